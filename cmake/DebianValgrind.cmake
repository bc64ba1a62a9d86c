# Debian's valgrind for the target architecture of a cross build, for the
# secret-independence check under the build's user-mode emulator: its
# package is downloaded with apt (apt's lists and cache of its own in the
# build tree, so the machine's packages and lists are left alone) and
# unpacked there, not installed. Done once, when the build is configured.
#
#   aes_debian_valgrind(<Debian architecture> <directory> <tool variable> <reason variable>)
#
# Sets the tool variable to the memcheck tool's program, or empty with the
# reason it is not to be had in the reason variable.
function(aes_debian_valgrind arch dir out_tool out_reason)
  set(reason "")
  file(GLOB tool ${dir}/usr/libexec/valgrind/memcheck-*-linux)
  if(NOT tool)
    find_program(AES_APT_GET apt-get)
    find_program(AES_DPKG_DEB dpkg-deb)
    if(NOT AES_APT_GET OR NOT AES_DPKG_DEB)
      set(reason "apt-get and dpkg-deb are needed to fetch Debian's valgrind:${arch}")
    else()
      message(STATUS "Fetching Debian's valgrind:${arch} into ${dir}")
      set(state ${dir}/apt)
      file(MAKE_DIRECTORY ${state}/lists/partial ${state}/cache/archives/partial)
      set(apt ${AES_APT_GET} -q -o Acquire::Retries=3 -o Dir::State::Lists=${state}/lists
              -o Dir::Cache=${state}/cache -o Dir::State::status=/dev/null
              -o APT::Architecture=${arch} -o APT::Architectures::=${arch}
              -o APT::Sandbox::User=root)
      # An index that fails (a mirror caught mid-sync, as the security
      # suite's was) fails the update but leaves the others, which hold
      # the release's valgrind: the download is tried all the same.
      execute_process(COMMAND ${apt} update OUTPUT_VARIABLE update_output
                      ERROR_VARIABLE update_output)
      execute_process(COMMAND ${apt} download valgrind WORKING_DIRECTORY ${state}
                      RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
      file(GLOB package ${state}/valgrind_*_${arch}.deb)
      if(NOT status EQUAL 0 OR NOT package)
        string(STRIP "${update_output}\n${output}" output)
        set(reason "Debian's valgrind:${arch} could not be downloaded: ${output}")
      else()
        execute_process(COMMAND ${AES_DPKG_DEB} -x ${package} ${dir} RESULT_VARIABLE status
                        ERROR_VARIABLE output)
        file(GLOB tool ${dir}/usr/libexec/valgrind/memcheck-*-linux)
        if(NOT status EQUAL 0 OR NOT tool)
          set(reason "${package} did not unpack to a memcheck tool: ${output}")
        endif()
      endif()
      file(REMOVE_RECURSE ${state})
    endif()
  endif()
  set(${out_tool} "${tool}" PARENT_SCOPE)
  set(${out_reason} "${reason}" PARENT_SCOPE)
endfunction()
