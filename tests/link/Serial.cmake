kvt40_add_test(test_serial_port SOURCES ${CMAKE_CURRENT_LIST_DIR}/SerialPort_test.cpp ${CMAKE_CURRENT_LIST_DIR}/SerialPortCases.cpp
               LIBS util LABELS e2e)
kvt40_add_test(test_port_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/PortList_test.cpp)
kvt40_add_test(test_serial_port_threads SOURCES ${CMAKE_CURRENT_LIST_DIR}/SerialPortThreads_test.cpp
               LIBS util LABELS e2e thread)

find_package(PkgConfig REQUIRED)
pkg_check_modules(MODBUS REQUIRED IMPORTED_TARGET libmodbus)
kvt40_add_test(test_modbus_peer SOURCES ${CMAKE_CURRENT_LIST_DIR}/ModbusPeer_test.cpp
               LIBS util PkgConfig::MODBUS LABELS e2e)
target_compile_definitions(test_modbus_peer PRIVATE KVT40CTL_PATH="$<TARGET_FILE:kvt40ctl>")
add_dependencies(test_modbus_peer kvt40ctl)
