# The library's public functions, the ones its shared library or DLL exports
# and no other: read by the checks of the exported symbols.
set(public_functions
    aes_128_cbc_decrypt
    aes_128_cbc_decrypt_messages
    aes_128_cbc_decrypt_pkcs7
    aes_128_cbc_decrypt_update
    aes_128_cbc_encrypt
    aes_128_cbc_encrypt_messages
    aes_128_cbc_encrypt_pkcs7
    aes_128_cbc_encrypt_update
    aes_128_cbc_implementation
    aes_128_cbc_key_setup
    aes_128_cbc_key_wipe
    rijndaelDecrypt
    rijndaelDecryptBlocks
    rijndaelEncrypt
    rijndaelEncryptBlocks
    rijndaelKeySetupDec
    rijndaelKeySetupEnc)
