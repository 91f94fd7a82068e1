# The NDI SDK headers, fetched by scripts/setup. Only headers: the runtime is loaded at run time.
set(NORVANE_NDI_DIR ${CMAKE_CURRENT_SOURCE_DIR}/.deps/ndi CACHE PATH "Fetched NDI files")
if(NOT EXISTS ${NORVANE_NDI_DIR}/include/Processing.NDI.Lib.h)
    message(FATAL_ERROR "NDI SDK headers not found in ${NORVANE_NDI_DIR}/include; run scripts/setup")
endif()
add_library(ndi_headers INTERFACE)
# SYSTEM: the vendor headers are not ours to keep warning-clean.
target_include_directories(ndi_headers SYSTEM INTERFACE ${NORVANE_NDI_DIR}/include)
