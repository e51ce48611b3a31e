# Delivery of built messages over MLLP: acknowledgements, the retry policy
# and the journal. Standalone asio (header-only) carries the connection.
find_package(nlohmann_json 3 CONFIG REQUIRED)
find_package(Threads REQUIRED)
find_path(TARN_ASIO_INCLUDE asio.hpp REQUIRED)

add_library(tarn_hl7_delivery STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ack.cc
  ${CMAKE_CURRENT_LIST_DIR}/mllp_client.cc
  ${CMAKE_CURRENT_LIST_DIR}/delivery.cc
  ${CMAKE_CURRENT_LIST_DIR}/journal.cc)
target_include_directories(tarn_hl7_delivery PUBLIC ${PROJECT_SOURCE_DIR})
target_include_directories(tarn_hl7_delivery SYSTEM PRIVATE ${TARN_ASIO_INCLUDE})
target_compile_definitions(tarn_hl7_delivery PRIVATE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(tarn_hl7_delivery PUBLIC Threads::Threads
  PRIVATE nlohmann_json::nlohmann_json)
tarn_enable_warnings(tarn_hl7_delivery)

# The host's extra fields and the delivery loop's bookkeeping, on top of
# tarn-hl7's records.
add_library(tarn_hl7_outbound STATIC ${CMAKE_CURRENT_LIST_DIR}/outbound.cc)
target_link_libraries(tarn_hl7_outbound PUBLIC tarn_hl7_delivery tarn_hl7_core)
tarn_enable_warnings(tarn_hl7_outbound)
