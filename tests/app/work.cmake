# Tests of the work commands (file list, conversion, upload, flash
# maintenance, test tickets): the operations against in-memory stand-ins, and
# the real window end to end against printer-sim.
velquin_add_gtest(work_logic_tests app
  engine_thread_test.cpp
  file_list_test.cpp
  flash_and_tickets_test.cpp
  program_settings_test.cpp
  transfer_meter_test.cpp
  upload_engine_test.cpp
)
target_link_libraries(work_logic_tests PRIVATE velquin_window)

velquin_add_qtest(app_work_test TIMEOUT 300 SOURCES work_e2e_test.cpp LIBRARIES printer_sim_core)
target_compile_definitions(app_work_test PRIVATE VELQUIN_SAMPLE_FONTS="${PROJECT_SOURCE_DIR}/tests/data/fonts")

velquin_add_qtest(app_truth_test TIMEOUT 300 SOURCES operator_truth_test.cpp LIBRARIES printer_sim_core)
