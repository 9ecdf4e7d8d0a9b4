# Package signatures: libsodium, the public keys built into the program, whether it refuses
# unsigned packages, and the secret key the delivered package is signed with at build time.
# Included by src/CMakeLists.txt (so the fuzz project gets it too); sets VFU_SIGNING_KEY_FILE_USED
# and VFU_BUNDLE_SIGNING_ARGS for tools/bundle.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET GLOBAL libsodium)

option(VFU_RELEASE "Release build: sign with VFU_SIGNING_KEY_FILE, never with the development key, which is not trusted" OFF)
option(VFU_REQUIRE_SIGNED_PACKAGES "Refuse unsigned firmware packages (the delivered one must then be signed)" OFF)
set(VFU_SIGNING_KEY_FILE "" CACHE FILEPATH
    "Secret key file the delivered package is signed with (never committed); the development key when empty, required with VFU_RELEASE")
set(VFU_TRUSTED_KEY_FILES "" CACHE STRING
    "Public key files built into the program (a list); the development key is added unless VFU_RELEASE")

get_filename_component(VFU_KEYS_DIR ${CMAKE_CURRENT_LIST_DIR}/../keys ABSOLUTE)
set(VFU_DEVELOPMENT_PUBLIC_KEY ${VFU_KEYS_DIR}/development.pub)
set(VFU_DEVELOPMENT_SECRET_KEY ${VFU_KEYS_DIR}/development.key)

set(trusted ${VFU_TRUSTED_KEY_FILES})
file(STRINGS ${VFU_DEVELOPMENT_PUBLIC_KEY} development_key_line REGEX "^ed25519-public-key [0-9a-f]+ [0-9a-f]+$")
if(VFU_RELEASE)
    if(NOT VFU_SIGNING_KEY_FILE)
        message(FATAL_ERROR "VFU_RELEASE=ON needs VFU_SIGNING_KEY_FILE: the secret key the delivered package is signed with")
    endif()
    get_filename_component(signing_real ${VFU_SIGNING_KEY_FILE} REALPATH)
    get_filename_component(development_real ${VFU_DEVELOPMENT_SECRET_KEY} REALPATH)
    if(signing_real STREQUAL development_real)
        message(FATAL_ERROR "VFU_RELEASE=ON refuses to sign with the development key ${VFU_DEVELOPMENT_SECRET_KEY}")
    endif()
    if(NOT trusted)
        message(FATAL_ERROR "VFU_RELEASE=ON needs VFU_TRUSTED_KEY_FILES: the public key of the signing key, at least")
    endif()
    set(VFU_SIGNING_KEY_FILE_USED ${VFU_SIGNING_KEY_FILE} CACHE INTERNAL "")
    # vfu_bundle compares the keys themselves, so a copy of the development key is refused too.
    set(VFU_SIGNING_REFUSED_KEY_FILE ${VFU_DEVELOPMENT_PUBLIC_KEY} CACHE INTERNAL "")
else()
    list(PREPEND trusted ${VFU_DEVELOPMENT_PUBLIC_KEY})
    if(VFU_SIGNING_KEY_FILE)
        set(VFU_SIGNING_KEY_FILE_USED ${VFU_SIGNING_KEY_FILE} CACHE INTERNAL "")
    else()
        set(VFU_SIGNING_KEY_FILE_USED ${VFU_DEVELOPMENT_SECRET_KEY} CACHE INTERNAL "")
    endif()
    set(VFU_SIGNING_REFUSED_KEY_FILE "" CACHE INTERNAL "")
endif()

# The options vfu_bundle signs the delivered package with.
set(bundle_signing --key ${VFU_SIGNING_KEY_FILE_USED})
if(VFU_SIGNING_REFUSED_KEY_FILE)
    list(APPEND bundle_signing --refuse-key ${VFU_SIGNING_REFUSED_KEY_FILE})
endif()
set(VFU_BUNDLE_SIGNING_ARGS ${bundle_signing} CACHE INTERNAL "")

# The generated list: one entry per public key file, named after the file ("development").
set(key_entries "")
list(REMOVE_DUPLICATES trusted)
foreach(key_file ${trusted})
    get_filename_component(key_file ${key_file} ABSOLUTE)
    if(NOT EXISTS ${key_file})
        message(FATAL_ERROR "No such public key file: ${key_file}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${key_file})
    file(STRINGS ${key_file} key_lines REGEX "^ed25519-public-key [0-9a-f]+ [0-9a-f]+$")
    list(LENGTH key_lines key_count)
    if(NOT key_count EQUAL 1)
        message(FATAL_ERROR "${key_file} is not a public key file (vfu keygen writes them)")
    endif()
    # Its secret half is in the repository: a release trusts it under no name, from no copy.
    if(VFU_RELEASE AND key_lines STREQUAL development_key_line)
        message(FATAL_ERROR "VFU_RELEASE=ON refuses to trust ${key_file}: it is the development key, whose secret is public")
    endif()
    get_filename_component(key_name ${key_file} NAME_WE)
    string(APPEND key_entries "    { \"${key_name}\", \"${key_lines}\" },\n")
endforeach()

if(VFU_REQUIRE_SIGNED_PACKAGES)
    set(require_signed true)
else()
    set(require_signed false)
endif()
if(VFU_RELEASE)
    set(release_build true)
else()
    set(release_build false)
endif()

set(VFU_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${VFU_GENERATED_INCLUDE_DIR}/packages/BuiltInKeys.inc CONTENT
"// Written by cmake/PackageSigning.cmake: the public keys built into the program.
static const std::vector<BuiltInKey> builtInKeys {
${key_entries}};
static constexpr bool builtInRequireSigned = ${require_signed};
static constexpr bool builtInReleaseBuild = ${release_build};
// The committed development key, whose secret is public: known to every build so that a signature
// by it is always marked, trusted only by builds that are not releases.
static constexpr const char* developmentKeyLine = \"${development_key_line}\";
")
