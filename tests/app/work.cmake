# Tests of the work commands: the operations against in-memory stand-ins, and
# the window end to end against printer-sim.
velquin_add_gtest(work_logic_tests app
  app/file_list_test.cpp
  app/flash_and_tickets_test.cpp
  app/upload_engine_test.cpp
)
target_link_libraries(work_logic_tests PRIVATE velquin_app)
