kvt40_add_test(test_modbus_rtu SOURCES ${CMAKE_CURRENT_LIST_DIR}/ModbusRtu_test.cpp)
kvt40_add_test(test_connect_sequence SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConnectSequence_test.cpp)
kvt40_add_test(test_link_state SOURCES ${CMAKE_CURRENT_LIST_DIR}/LinkState_test.cpp LABELS unit thread)
