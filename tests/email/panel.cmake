# The email settings panel's logic against a live mail directory, and the
# settings window bound to it (offscreen, built from its own sources so that
# it does not wait for the rest of the shell).
vt_add_gtest(email_panel_tests
  ${CMAKE_CURRENT_LIST_DIR}/email_settings_panel_test.cpp
)
target_link_libraries(email_panel_tests PRIVATE vantrel_email)

if(VT_GUI)
  vt_add_gtest(email_dialog_tests
    ${CMAKE_CURRENT_LIST_DIR}/email_settings_dialog_test.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/email_settings_dialog.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/attachment_info_dialog.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/dialog_layout.cpp
  )
  target_link_libraries(email_dialog_tests PRIVATE vantrel_email Qt6::Widgets)
endif()
