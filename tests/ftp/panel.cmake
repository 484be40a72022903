# The FTP account table and the settings panel's logic, and the settings
# window bound to it (offscreen, built from its own sources so that it does
# not wait for the rest of the shell).
vt_add_gtest(ftp_panel_tests
  ${CMAKE_CURRENT_LIST_DIR}/ftp_account_table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_settings_panel_test.cpp
)
target_link_libraries(ftp_panel_tests PRIVATE vantrel_ftp)

if(VT_GUI)
  vt_add_gtest(ftp_dialog_tests
    ${CMAKE_CURRENT_LIST_DIR}/ftp_settings_dialog_test.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/ftp_settings_dialog.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/dialog_layout.cpp
  )
  target_link_libraries(ftp_dialog_tests PRIVATE vantrel_ftp Qt6::Widgets)
endif()
