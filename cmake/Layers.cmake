# The layers of the front-end, checked by the test `layer_check`:
#  - a core library (every snapmend_* library of src/ except the widget ones
#    below) never links Qt6::Widgets, directly or through another library;
#  - a core library links only core libraries of lower floors (below);
#  - a core library's sources name neither QWidget nor UiServices: they
#    return their errors and the window shows them;
#  - the engine (carver/) never includes a header of src/.
# Widget libraries: names ending in _ui, the skinned controls, the window and
# the application object.
set(SNAPMEND_WIDGET_LIBRARIES snapmend_controls snapmend_mainwindow snapmend_app)
# The floors of the core libraries, ground floor first; a library of floor N
# links only libraries of floors below N. A new core library must be placed here.
set(SNAPMEND_CORE_FLOORS
  "snapmend_platform"
  "snapmend_drives snapmend_settings snapmend_startup snapmend_workspace_files"
  "snapmend_engine snapmend_harvest snapmend_copyout"
  "snapmend_preview")

# The floor of core library `target`, or -1.
function(snapmend_floor_of target out)
  set(floor 0)
  foreach(libraries ${SNAPMEND_CORE_FLOORS})
    string(REPLACE " " ";" libraries "${libraries}")
    if(target IN_LIST libraries)
      set(${out} ${floor} PARENT_SCOPE)
      return()
    endif()
    math(EXPR floor "${floor} + 1")
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

# Appends to `out` every library `target` links, transitively.
function(snapmend_link_closure target out)
  set(seen ${${out}})
  foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(type ${target} TYPE)
    if(property STREQUAL "LINK_LIBRARIES" AND type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    get_target_property(libraries ${target} ${property})
    if(NOT libraries)
      continue()
    endif()
    foreach(library ${libraries})
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
      if(library IN_LIST seen OR library MATCHES "^\\$<")
        continue()
      endif()
      list(APPEND seen ${library})
      if(TARGET ${library})
        snapmend_link_closure(${library} seen)
      endif()
    endforeach()
  endforeach()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Writes "target floor: library library ..." for every core library of src/
# into layers.txt, and "target: source source ..." into layer-sources.txt,
# read by the check at test time.
function(snapmend_write_layers)
  set(lines "")
  set(source_lines "")
  file(GLOB dirs LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/src/*)
  foreach(dir ${dirs})
    if(NOT IS_DIRECTORY ${dir} OR NOT EXISTS ${dir}/CMakeLists.txt)
      continue()
    endif()
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(NOT type MATCHES "LIBRARY$" OR target MATCHES "_ui$" OR target IN_LIST SNAPMEND_WIDGET_LIBRARIES)
        continue()
      endif()
      set(closure "")
      snapmend_link_closure(${target} closure)
      set(floors "")
      foreach(library ${closure})
        snapmend_floor_of(${library} floor)
        if(floor GREATER_EQUAL 0)
          list(APPEND floors "${library}@${floor}")
        else()
          list(APPEND floors "${library}")
        endif()
      endforeach()
      snapmend_floor_of(${target} floor)
      list(JOIN floors " " joined)
      string(APPEND lines "${target}@${floor}: ${joined}\n")
      get_target_property(sources ${target} SOURCES)
      set(paths "")
      foreach(source ${sources})
        if(NOT IS_ABSOLUTE ${source})
          set(source ${dir}/${source})
        endif()
        list(APPEND paths ${source})
      endforeach()
      list(JOIN paths " " joined)
      string(APPEND source_lines "${target}: ${joined}\n")
    endforeach()
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/layers.txt "${lines}")
  file(WRITE ${CMAKE_BINARY_DIR}/layer-sources.txt "${source_lines}")
endfunction()

snapmend_write_layers()
add_test(NAME layer_check COMMAND ${CMAKE_COMMAND} -DLAYERS=${CMAKE_BINARY_DIR}/layers.txt
  -DLAYER_SOURCES=${CMAKE_BINARY_DIR}/layer-sources.txt -DSOURCE=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/CheckLayers.cmake)
set_tests_properties(layer_check PROPERTIES LABELS unit)
