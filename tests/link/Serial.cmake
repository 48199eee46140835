kvt40_add_test(test_serial_port SOURCES ${CMAKE_CURRENT_LIST_DIR}/SerialPort_test.cpp LIBS util LABELS e2e)
kvt40_add_test(test_serial_port_threads SOURCES ${CMAKE_CURRENT_LIST_DIR}/SerialPortThreads_test.cpp
               LIBS util LABELS e2e thread)
