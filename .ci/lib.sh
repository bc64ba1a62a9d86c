# Shared helpers for the CI scripts.

# The project's warning set, as errors, for the consumers built from outside
# the tree (tests/consumer).
# shellcheck disable=SC2034 # used by the scripts that source this file.
readonly consumer_warnings=(-Wall -Wextra -Wpedantic -Wconversion -Wshadow -Werror)

# Installs the named Debian packages that are missing; does nothing when all
# are present, so it is safe to call again.
ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    if [[ -z ${ENSURE_PACKAGES_UPDATED:-} ]]; then
      apt-get update -q -o Acquire::Retries=3
      ENSURE_PACKAGES_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      -o Acquire::Retries=3 "${missing[@]}"
  fi
}
