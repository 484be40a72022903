# The settings panel's logic and the first-run seeding of a data folder.
vt_add_gtest(http_panel_tests ${CMAKE_CURRENT_LIST_DIR}/http_settings_panel_test.cpp)
target_link_libraries(http_panel_tests PRIVATE vantrel_http)

# The seeded site, served by the stand-alone test server.
add_test(NAME http_seed_data
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/seed_data_test.sh
                 ${PROJECT_SOURCE_DIR}/scripts/seed-data.sh $<TARGET_FILE:vantrel-settings>
                 $<TARGET_FILE:http_test_server>)
set_tests_properties(http_seed_data PROPERTIES TIMEOUT 60)

# The window itself on the offscreen platform, built from its own sources so
# that it does not wait for the rest of the shell.
if(VT_GUI)
  vt_add_gtest(http_settings_dialog_tests
    ${CMAKE_CURRENT_LIST_DIR}/http_settings_dialog_test.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/http_settings_dialog.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/dialog_layout.cpp
  )
  target_link_libraries(http_settings_dialog_tests PRIVATE vantrel_http Qt6::Widgets)
endif()
