# The mail store side: accounts and routing, mailboxes and their files, the
# service with its settings and activation, and the harness that the
# protocol tests and benchmarks run.
vt_add_gtest(email_store_tests
  ${CMAKE_CURRENT_LIST_DIR}/message_list_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mail_directory_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mailbox_store_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mail_files_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mailbox_index_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/account_file_tool_test.cpp)
target_link_libraries(email_store_tests PRIVATE vantrel_email vantrel_settings_tool)

vt_add_gtest(email_service_tests ${CMAKE_CURRENT_LIST_DIR}/email_service_test.cpp)
target_link_libraries(email_service_tests PRIVATE vantrel_email)

add_executable(email_test_server ${CMAKE_CURRENT_LIST_DIR}/email_test_server.cpp)
target_compile_options(email_test_server PRIVATE ${VT_WARNINGS})
target_link_libraries(email_test_server PRIVATE vantrel_email vt_test_server_loop)
