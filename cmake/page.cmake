# The browser build. The tool itself (main and the libraries, unchanged) becomes a WebAssembly module
# that the page's worker starts afresh for every set of files a player gives, as the console starts a
# process; the page (web/) is then put together with it into one self-contained HTML file,
# build/Tovrel.html.
target_sources(tovrel PRIVATE src/app/web_exports.cpp src/app/web_zip.cpp)
target_link_libraries(tovrel PRIVATE minizip)
set_target_properties(tovrel PROPERTIES OUTPUT_NAME tovrel-engine)
target_link_options(tovrel PRIVATE
  -sMODULARIZE=1 -sEXPORT_NAME=createTovrel -sENVIRONMENT=worker
  # main runs only when the worker calls it, with the command's arguments; the runtime then exits and
  # flushes what was printed
  -sINVOKE_RUN=0 -sEXIT_RUNTIME=1
  "-sEXPORTED_FUNCTIONS=['_main','_TovrelBanner','_TovrelPlan','_TovrelReads','_TovrelRunInTurn','_TovrelZip']"
  "-sEXPORTED_RUNTIME_METHODS=['callMain','ccall','FS']"
  # a save of many megabytes: memory grows as needed, and a refused allocation fails like a native one
  -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB
  # the WebAssembly inside the script: a page opened from disk may not fetch a file beside it
  -sSINGLE_FILE=1)

set(tovrel_page "${CMAKE_BINARY_DIR}/Tovrel.html")
set(tovrel_page_sources web/index.html web/style.css web/tovrel.js web/worker.js)
list(TRANSFORM tovrel_page_sources PREPEND "${CMAKE_SOURCE_DIR}/")
add_custom_command(
  OUTPUT "${tovrel_page}"
  COMMAND "${CMAKE_COMMAND}" -DWEB_DIR=${CMAKE_SOURCE_DIR}/web -DENGINE=$<TARGET_FILE:tovrel>
          -DOUTPUT=${tovrel_page} -P "${CMAKE_SOURCE_DIR}/cmake/assemble_page.cmake"
  DEPENDS tovrel ${tovrel_page_sources} "${CMAKE_SOURCE_DIR}/cmake/assemble_page.cmake"
  COMMENT "Putting the page together: ${tovrel_page}")
add_custom_target(page ALL DEPENDS "${tovrel_page}")
