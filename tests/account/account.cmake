# The account client against the stand-in service's account API, under Wine.
include(${PROJECT_SOURCE_DIR}/tests/net/standin_fixture.cmake)
if(WIN32 AND TARGET account_client_win32_test)
  ember_use_standin(account_client_win32_test TARGET account_client_win32_test)
endif()

# The saved sign-in of another Windows user, made once per build tree in a
# throwaway Wine prefix, for the test that checks it is refused.
if(WIN32)
  set(foreign_signin ${CMAKE_CURRENT_BINARY_DIR}/foreign-account.json)
  add_test(NAME account_foreign_signin_file
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/foreign_signin.sh
                   $<TARGET_FILE:account_signin_win32_test> ${foreign_signin})
  set_tests_properties(account_foreign_signin_file PROPERTIES FIXTURES_SETUP foreign_signin)
  set_tests_properties(account_signin_win32_test PROPERTIES
    FIXTURES_REQUIRED foreign_signin
    ENVIRONMENT "EMBER_FOREIGN_SIGNIN=Z:${foreign_signin}")
endif()

# The same program with the crypto provider switched off: protection fails.
if(WIN32)
  add_test(NAME account_signin_win32_no_crypto
           COMMAND account_signin_win32_test --gtest_filter=*AFailedProtection*)
  set_tests_properties(account_signin_win32_no_crypto PROPERTIES
    ENVIRONMENT "EMBER_NO_CRYPTO_PROVIDER=1;WINEDLLOVERRIDES=mscoree=\\;mshtml=\\;rsaenh=")
endif()

# The proof-of-work figures program for Wine (bench/pow-figures builds it).
if(WIN32)
  add_executable(pow_figures EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/pow_figures.cpp)
  target_link_libraries(pow_figures PRIVATE ember_shell)
endif()
