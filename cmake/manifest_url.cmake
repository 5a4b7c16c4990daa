# The HTTPS address of the downloads manifest that the program is built
# with. The program has no run-time setting for it: whoever builds the
# program for a fleet of units chooses the server here. Included by the
# top-level list, and run on its own (cmake -DEFIS_MANIFEST_URL=... -P) to
# check an address without configuring the whole project.

# A name under .invalid never resolves, so a build that names no server of
# its own can never reach somebody else's.
set(EFIS_DEFAULT_MANIFEST_URL "https://updates.corvane.invalid/firmware/downloads_manifest.json")

# An https address with a host name, an optional port and a plain path: it
# is compiled into the program as a string, and the program fetches its
# manifest over nothing but HTTPS.
function(efis_check_manifest_url url)
    if(NOT url MATCHES "^https://[A-Za-z0-9.-]+(:[0-9]+)?(/[A-Za-z0-9._~%+/-]*)?$")
        message(FATAL_ERROR
            "EFIS_MANIFEST_URL must be an https:// address with a host name and a plain path, "
            "for example ${EFIS_DEFAULT_MANIFEST_URL}; got \"${url}\"")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    efis_check_manifest_url("${EFIS_MANIFEST_URL}")
endif()
