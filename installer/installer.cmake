# The release program's last steps (symbols stripped, signed when configured) and the
# setup programs, made by NSIS from installer/brindlex.nsi.

# Version and publisher come from the program's version block.
file(STRINGS ${CMAKE_SOURCE_DIR}/res/brindlex.rc brindlex_rc_lines
     REGEX "^FILEVERSION |VALUE \"CompanyName\"")
string(REGEX MATCH "FILEVERSION +([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+)" _ "${brindlex_rc_lines}")
set(BRINDLEX_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")
string(REGEX MATCH "\"CompanyName\", \"([^\"]*)\"" _ "${brindlex_rc_lines}")
set(BRINDLEX_PUBLISHER "${CMAKE_MATCH_1}")
if(NOT BRINDLEX_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$" OR NOT BRINDLEX_PUBLISHER)
  message(FATAL_ERROR "res/brindlex.rc: no FILEVERSION or CompanyName in the version block")
endif()

set(BRINDLEX_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the certificate and key that sign the release program and its setup")
set(BRINDLEX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding that PKCS#12 file's password")
set(BRINDLEX_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamping service for the signatures; empty for none")
set(brindlex_sign_command "")
if(BRINDLEX_SIGN_PKCS12 OR BRINDLEX_SIGN_PASSWORD_FILE)
  foreach(file BRINDLEX_SIGN_PKCS12 BRINDLEX_SIGN_PASSWORD_FILE)
    if(NOT IS_ABSOLUTE "${${file}}" OR NOT EXISTS "${${file}}")
      message(FATAL_ERROR "Signing needs both BRINDLEX_SIGN_PKCS12 and "
                          "BRINDLEX_SIGN_PASSWORD_FILE as absolute paths of existing files")
    endif()
  endforeach()
  find_program(BRINDLEX_OSSLSIGNCODE osslsigncode REQUIRED)
  set(brindlex_sign_command ${CMAKE_COMMAND} -E env
      "BRINDLEX_SIGN_PKCS12=${BRINDLEX_SIGN_PKCS12}"
      "BRINDLEX_SIGN_PASSWORD_FILE=${BRINDLEX_SIGN_PASSWORD_FILE}"
      "BRINDLEX_SIGN_TIMESTAMP_URL=${BRINDLEX_SIGN_TIMESTAMP_URL}")
  message(STATUS "The release program and its setup are signed with ${BRINDLEX_SIGN_PKCS12}")
endif()
set(BRINDLEX_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sign.sh)

# The release program carries no symbols; they stay beside it in brindlex.dbg, which
# debuggers find through the program's debug link, so a crash report from the field
# can still be read with names. When signing is configured the program is signed
# last, since any later change would break the signature.
set(BRINDLEX_RELEASE_SYMBOLS ${CMAKE_BINARY_DIR}/brindlex.dbg)
set(release_steps
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:brindlex> ${BRINDLEX_RELEASE_SYMBOLS}
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:brindlex>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${BRINDLEX_RELEASE_SYMBOLS} $<TARGET_FILE:brindlex>)
if(brindlex_sign_command)
  list(APPEND release_steps
       COMMAND ${brindlex_sign_command} ${BRINDLEX_SIGN_SCRIPT} $<TARGET_FILE:brindlex>)
endif()
add_custom_command(TARGET brindlex POST_BUILD ${release_steps} VERBATIM)

find_program(BRINDLEX_MAKENSIS makensis REQUIRED)
set(BRINDLEX_NSIS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/brindlex.nsi)

# What every setup program shares: version, publisher, icon. The program, the output
# and the signing script come on makensis's command line, so that a test can make a
# setup of its own from the same settings.
set(BRINDLEX_NSIS_SETTINGS ${CMAKE_BINARY_DIR}/installer/settings.nsh)
file(CONFIGURE OUTPUT ${BRINDLEX_NSIS_SETTINGS} CONTENT
"!define VERSION \"${BRINDLEX_VERSION}\"
!define PUBLISHER \"${BRINDLEX_PUBLISHER}\"
!define ICON \"${CMAKE_SOURCE_DIR}/res/brindlex.ico\"
")

# brindlex_setup(<target> <program target> <setup file> [ALL] [SIGNED]): the setup
# program that installs <program target>.
function(brindlex_setup target program output)
  cmake_parse_arguments(S "ALL;SIGNED" "" "" ${ARGN})
  set(makensis ${BRINDLEX_MAKENSIS})
  if(S_SIGNED AND brindlex_sign_command)
    set(makensis ${brindlex_sign_command} ${BRINDLEX_MAKENSIS} -DSIGN_SCRIPT=${BRINDLEX_SIGN_SCRIPT})
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${makensis} -V2 -WX -INPUTCHARSET UTF8 -DSETTINGS=${BRINDLEX_NSIS_SETTINGS}
            -DPROGRAM=$<TARGET_FILE:${program}> -DOUTFILE=${output} ${BRINDLEX_NSIS_SCRIPT}
    DEPENDS ${program} $<TARGET_FILE:${program}> ${BRINDLEX_NSIS_SETTINGS}
            ${BRINDLEX_NSIS_SCRIPT} ${BRINDLEX_SIGN_SCRIPT} ${CMAKE_SOURCE_DIR}/res/brindlex.ico
    COMMENT "Making ${output}"
    VERBATIM)
  set(all "")
  if(S_ALL)
    set(all ALL)
  endif()
  add_custom_target(${target} ${all} DEPENDS ${output})
endfunction()

brindlex_setup(installer brindlex ${CMAKE_BINARY_DIR}/brindlex-setup-${BRINDLEX_VERSION}.exe SIGNED)
# The tests install the program built for the loopback origin.
set(BRINDLEX_E2E_SETUP ${CMAKE_BINARY_DIR}/tests/e2e/brindlex-setup-${BRINDLEX_VERSION}-e2e.exe)
brindlex_setup(installer_e2e brindlex_e2e ${BRINDLEX_E2E_SETUP} ALL)
set(BRINDLEX_E2E_SETUP_w32 ${BRINDLEX_E2E_SETUP})
set(BRINDLEX_E2E_SETUP_w64 ${CMAKE_BINARY_DIR}/e2e-w64/brindlex-setup-${BRINDLEX_VERSION}-e2e.exe)
brindlex_setup(installer_e2e_w64 brindlex_e2e_w64 ${BRINDLEX_E2E_SETUP_w64} ALL)
