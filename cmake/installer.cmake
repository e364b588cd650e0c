# The MSI package, built with wixl (Debian's msitools) from installer/zelk_admin.wxs,
# and the tests that install it with msiexec in a Wine prefix of their own.
# The product package is ZelkAdmin-<version>-x86.msi, made by the 32-bit
# build; the 64-bit build makes ZelkAdmin-<version>-x64.msi. Both make the
# small test packages (1.0.0, 1.0.1 and a rebuild of 1.0.1), so the tests also
# run against the 64-bit server.
find_program(ZELK_WIXL wixl)
find_program(ZELK_MSIBUILD msibuild)
find_program(ZELK_MSIINFO msiinfo)
if(NOT ZELK_WIXL OR NOT ZELK_MSIBUILD OR NOT ZELK_MSIINFO OR NOT TARGET zelkctl)
  message(STATUS "wixl or msitools missing (scripts/setup.sh installs them): no MSI package")
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ZELK_MSI_ARCH x86)
  set(ZELK_MSI_PROGRAM_FILES ProgramFilesFolder)
else()
  set(ZELK_MSI_ARCH x64)
  set(ZELK_MSI_PROGRAM_FILES ProgramFiles64Folder)
endif()
set(ZELK_WXS ${CMAKE_SOURCE_DIR}/installer/zelk_admin.wxs)

# What wixl (0.101) cannot write is set afterwards. It writes a rollback custom
# action as an immediate one and has no form for an exe run from the Binary
# table: 3410 = exe from an installed file (18) | ignore exit code (0x40) |
# rollback (0x100) | in script (0x400) | not impersonated (0x800); 3394 = the
# same, exe from the Binary table (2).
set(ZELK_MSI_FIXES
    -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'UnregisterServerRollback'"
    -q "UPDATE CustomAction SET Type = 3394 WHERE Action = 'RegisterServerRollback'")

# Nor can it write MajorUpgrade's AllowSameVersionUpgrades: the row that finds
# older versions has an exclusive maximum, so a rebuilt package of the
# installed version (a new ProductCode) would install beside it. That row is
# written again with an inclusive maximum: 513 = migrate features (1) |
# msidbUpgradeAttributesVersionMaxInclusive (0x200). The downgrade row keeps
# its exclusive minimum. Attributes is part of the Upgrade table's key, which
# UPDATE cannot change; the UpgradeCode is read from the source.
file(STRINGS ${ZELK_WXS} ZELK_UPGRADE_CODE REGEX "UpgradeCode=")
string(REGEX REPLACE ".*UpgradeCode=\"([^\"]+)\".*" "{\\1}" ZELK_UPGRADE_CODE "${ZELK_UPGRADE_CODE}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZELK_WXS})

function(zelk_msi output version)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${ZELK_WIXL} -a ${ZELK_MSI_ARCH} -D Version=${version}
            -D ProgramFilesFolder=${ZELK_MSI_PROGRAM_FILES} -o ${output} ${ZELK_WXS}
    COMMAND ${ZELK_MSIBUILD} ${output} ${ZELK_MSI_FIXES}
            -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'"
            -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('${ZELK_UPGRADE_CODE}', '${version}', 513, 'WIX_UPGRADE_DETECTED')"
    # wixl finds File and Binary sources in its working folder.
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    DEPENDS ${ZELK_WXS} ZelkAdmin zelkctl
    COMMENT "wixl ${output}"
    VERBATIM)
endfunction()

set(ZELK_MSI_TEST_DIR ${CMAKE_BINARY_DIR}/installer-tests)
file(MAKE_DIRECTORY ${ZELK_MSI_TEST_DIR})
zelk_msi(${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.0.msi 1.0.0)
zelk_msi(${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.1.msi 1.0.1)
# The same version built again: wixl gives every build a new ProductCode.
zelk_msi(${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.1-rebuilt.msi 1.0.1)
set(ZELK_MSI_OUTPUTS ${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.0.msi ${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.1.msi
    ${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.1-rebuilt.msi)
# The 64-bit build's package serves machines that run no 32-bit programs.
set(ZELK_MSI_CHECKED ${CMAKE_BINARY_DIR}/ZelkAdmin-${PROJECT_VERSION}-${ZELK_MSI_ARCH}.msi)
zelk_msi(${ZELK_MSI_CHECKED} ${PROJECT_VERSION})
list(APPEND ZELK_MSI_OUTPUTS ${ZELK_MSI_CHECKED})
add_custom_target(zelk_msi ALL DEPENDS ${ZELK_MSI_OUTPUTS})

# key_dacl gives the settings key an access list, for the registration failure
# test; standard_user runs a command with Administrators deny-only.
foreach(helper key_dacl standard_user)
  add_executable(${helper} ${CMAKE_SOURCE_DIR}/tests/installer/${helper}.cpp)
  target_link_libraries(${helper} PRIVATE zelk_platform)
  set_target_properties(${helper} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endforeach()

# One test per step, in this order, in one prefix that the first test makes
# afresh and the last stops (build/<arch>/msiprefix: the other tests' prefix
# and its registered server stay untouched).
set(ZELK_MSI_TESTS ${CMAKE_SOURCE_DIR}/tests/installer)
add_test(NAME installer_sequence COMMAND bash ${ZELK_MSI_TESTS}/sequence.sh ${ZELK_MSI_CHECKED})
add_test(NAME installer_prefix_start COMMAND bash ${ZELK_MSI_TESTS}/prefix.sh start)
add_test(NAME installer_prefix_stop COMMAND bash ${ZELK_MSI_TESTS}/prefix.sh stop)
set_tests_properties(installer_prefix_start PROPERTIES FIXTURES_SETUP msi_prefix)
set_tests_properties(installer_prefix_stop PROPERTIES FIXTURES_CLEANUP msi_prefix)
set(previous installer_prefix_start)
foreach(step install upgrade downgrade repair service removal registration_failure)
  add_test(NAME installer_${step} COMMAND bash ${ZELK_MSI_TESTS}/${step}.sh)
  set_tests_properties(installer_${step} PROPERTIES FIXTURES_REQUIRED msi_prefix
                       DEPENDS ${previous} TIMEOUT 180)
  set(previous installer_${step})
endforeach()
set_tests_properties(installer_prefix_stop PROPERTIES DEPENDS ${previous})
set_tests_properties(installer_prefix_start installer_prefix_stop installer_install
                     installer_upgrade installer_downgrade installer_repair installer_service
                     installer_removal
                     installer_registration_failure PROPERTIES
  RESOURCE_LOCK msi_prefix
  ENVIRONMENT "ZELK_MSI_PREFIX=${CMAKE_BINARY_DIR}/msiprefix;ZELK_WINEARCH=${ZELK_WINEARCH};ZELK_MSI_OLD=${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.0.msi;ZELK_MSI_NEW=${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.1.msi;ZELK_MSI_REBUILT=${ZELK_MSI_TEST_DIR}/ZelkAdmin-1.0.1-rebuilt.msi;ZELK_BIN_DIR=${CMAKE_BINARY_DIR}/bin;ZELK_WINE=${ZELK_WINE}")
