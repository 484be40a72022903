# The settings panel's logic, the vantrel-settings tool and the first-run
# seeding of a data folder.
if(TARGET vantrel_http)
  vt_add_gtest(http_panel_tests
    ${CMAKE_CURRENT_LIST_DIR}/http_settings_panel_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/settings_tool_test.cpp
  )
  target_link_libraries(http_panel_tests PRIVATE vantrel_http vantrel_settings_tool)
endif()

# The seeded site is served by the stand-alone test server when it exists.
if(TARGET vantrel-settings)
  set(vt_seed_server "")
  if(TARGET http_test_server)
    set(vt_seed_server $<TARGET_FILE:http_test_server>)
  endif()
  add_test(NAME http_seed_data
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/seed_data_test.sh
                   ${PROJECT_SOURCE_DIR}/scripts/seed-data.sh $<TARGET_FILE:vantrel-settings>
                   ${vt_seed_server})
  set_tests_properties(http_seed_data PROPERTIES TIMEOUT 60)
endif()

# The window itself on the offscreen platform, built from its own sources so
# that it does not wait for the rest of the shell.
if(VT_GUI AND TARGET vantrel_http AND TARGET Qt6::Widgets)
  vt_add_gtest(http_settings_dialog_tests
    ${CMAKE_CURRENT_LIST_DIR}/http_settings_dialog_test.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/http_settings_dialog.cpp
    ${PROJECT_SOURCE_DIR}/src/shell/qt/dialog_layout.cpp
  )
  target_link_libraries(http_settings_dialog_tests PRIVATE vantrel_http Qt6::Widgets)
endif()
