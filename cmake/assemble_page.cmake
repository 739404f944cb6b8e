# Puts the browser page together as one HTML file: web/index.html with the stylesheet, the page's
# script, and the worker (the engine that web/worker.js drives, followed by it) written into it.
#   cmake -DWEB_DIR=web -DENGINE=tovrel-engine.js -DOUTPUT=Tovrel.html -P assemble_page.cmake
file(READ "${WEB_DIR}/index.html" page)
file(READ "${WEB_DIR}/style.css" style)
file(READ "${WEB_DIR}/tovrel.js" script)
file(READ "${ENGINE}" engine)
file(READ "${WEB_DIR}/worker.js" worker)

# inside a <script> element the text ends at the first "</script"; "<!--" changes how it is read
foreach(part script engine worker)
  string(TOLOWER "${${part}}" lowered)
  if(lowered MATCHES "</script" OR lowered MATCHES "<!--")
    message(FATAL_ERROR "the ${part} text holds \"</script\" or \"<!--\" and cannot be inlined")
  endif()
endforeach()

foreach(pair "/* tovrel:style */|style" "// tovrel:script|script" "// tovrel:engine|engine"
             "// tovrel:worker|worker")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 mark)
  list(GET pair 1 part)
  string(FIND "${page}" "${mark}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "web/index.html lacks the mark '${mark}'")
  endif()
  string(REPLACE "${mark}" "${${part}}" page "${page}")
endforeach()
file(WRITE "${OUTPUT}" "${page}")
