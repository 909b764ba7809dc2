# calmgr_tool_tiff: the tool's TIFF reading, conversion and writing, over
# libtiff and the public header of calmgr. Whoever links it also links a
# calmgr library (the shared one for the tool, the internal one for the
# fuzz harness). Included from tools/ and fuzz/; defined once.
if(NOT TARGET calmgr_tool_tiff)
    find_package(TIFF REQUIRED)
    add_library(calmgr_tool_tiff STATIC
        ${CMAKE_CURRENT_LIST_DIR}/tiff_messages.cpp ${CMAKE_CURRENT_LIST_DIR}/tiff_handle.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tiff_layout.cpp ${CMAKE_CURRENT_LIST_DIR}/tiff_reader.cpp
        ${CMAKE_CURRENT_LIST_DIR}/row_convert.cpp ${CMAKE_CURRENT_LIST_DIR}/tiff_metadata.cpp
        ${CMAKE_CURRENT_LIST_DIR}/tiff_writer.cpp ${CMAKE_CURRENT_LIST_DIR}/tiff_convert.cpp)
    target_include_directories(calmgr_tool_tiff PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(calmgr_tool_tiff PUBLIC TIFF::TIFF)
    target_compile_options(calmgr_tool_tiff PRIVATE ${CALMGR_WARNINGS} ${CALMGR_FP})
endif()
