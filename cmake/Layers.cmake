# The layers of the front-end, checked by the test `layer_check`:
#  - a core library (every snapmend_* library of src/ except the widget ones
#    below) never links Qt6::Widgets, directly or through another library;
#  - the engine (carver/) never includes a header of src/.
# Widget libraries: names ending in _ui, the skinned controls, the window and
# the application object.
set(SNAPMEND_WIDGET_LIBRARIES snapmend_controls snapmend_mainwindow snapmend_app)

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

# Writes "target: library library ..." for every core library of src/ into
# layers.txt, read by the check at test time.
function(snapmend_write_layers)
  set(lines "")
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
      list(JOIN closure " " joined)
      string(APPEND lines "${target}: ${joined}\n")
    endforeach()
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/layers.txt "${lines}")
endfunction()

snapmend_write_layers()
add_test(NAME layer_check COMMAND ${CMAKE_COMMAND} -DLAYERS=${CMAKE_BINARY_DIR}/layers.txt
  -DSOURCE=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/CheckLayers.cmake)
set_tests_properties(layer_check PROPERTIES LABELS unit)
