# The FTP service side: the path gate and the parsers as unit tests, and the
# protocol driven by real clients (python's ftplib, curl, lftp) against the
# ftp_test_server harness on loopback.
vt_add_gtest(ftp_service_unit_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/ftp_path_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ftp_parse_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ftp_service_test.cpp)
target_link_libraries(ftp_service_unit_tests PRIVATE vantrel_ftp)

add_executable(ftp_test_server ${CMAKE_CURRENT_SOURCE_DIR}/ftp_test_server.cpp)
target_compile_options(ftp_test_server PRIVATE ${VT_WARNINGS})
target_link_libraries(ftp_test_server PRIVATE vantrel_ftp vt_test_server_loop)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(script
    ftp_login_test ftp_commands_test ftp_rights_test ftp_transfer_test
    ftp_listing_test ftp_mends_test ftp_clients_test
    ftp_writers_test ftp_confinement_test ftp_names_test ftp_hangup_test
    ftp_tls_test)
  add_test(NAME ${script}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/${script}.py $<TARGET_FILE:ftp_test_server>)
  set_tests_properties(${script} PROPERTIES TIMEOUT 300)
endforeach()
# Counts the system calls of a download with strace; nothing is timed.
add_test(NAME ftp_syscalls_test
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/ftp_syscalls_test.py $<TARGET_FILE:ftp_test_server>)
set_tests_properties(ftp_syscalls_test PROPERTIES TIMEOUT 300 LABELS syscalls)
