# The layers of src/ held by the build.
#
# Headers are spelled from src ("ui/form.h"), but no target sees all of src:
# a library sees the subsystems its own sources live in, and through its
# links those of every library it uses, directly or transitively. Each
# subsystem is offered as an include root of its own in the build tree
# (<build>/include_roots/ui/ui -> src/ui), so including a header of a
# subsystem one does not link fails to compile, and qv_check_layers() says
# which file does it when the project is configured.

set(QV_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include_roots)

# The subsystems (first folders under src/) that a target's sources live in.
function(qv_target_subsystems target out)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(result)
  foreach(source IN LISTS sources)
    if(source MATCHES "^\\$<")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir} NORMALIZE OUTPUT_VARIABLE path)
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR}/src ${path})
    if(NOT relative MATCHES "^\\.\\./" AND relative MATCHES "^([^/]+)/")
      list(APPEND result ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# qv_layered(TARGET [PUBLIC|PRIVATE]): the target sees the include roots of
# the subsystems its sources live in, and takes part in qv_check_layers().
function(qv_layered target scope)
  qv_target_subsystems(${target} subsystems)
  foreach(subsystem IN LISTS subsystems)
    set(root ${QV_INCLUDE_ROOTS}/${subsystem})
    if(NOT IS_SYMLINK ${root}/${subsystem})
      file(MAKE_DIRECTORY ${root})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${subsystem} ${root}/${subsystem} SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} ${root})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY QV_LAYERED_TARGETS ${target})
endfunction()

# Every target a target links, directly or transitively.
function(qv_link_closure target out)
  set(seen)
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending current)
    get_target_property(libs ${current} LINK_LIBRARIES)
    if(NOT libs)
      continue()
    endif()
    foreach(lib IN LISTS libs)
      if(lib MATCHES "^\\$<LINK_ONLY:(.*)>$")
        set(lib ${CMAKE_MATCH_1})
      endif()
      if(TARGET ${lib} AND NOT lib IN_LIST seen)
        get_target_property(imported ${lib} IMPORTED)
        if(NOT imported)
          list(APPEND seen ${lib})
          list(APPEND pending ${lib})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# Fails the configuration when a layered target's sources (or the header
# beside each source) include a header of a subsystem the target neither
# lives in nor links: nothing calls upward or sideways unannounced.
function(qv_check_layers)
  file(GLOB entries RELATIVE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/*)
  set(all_subsystems)
  foreach(entry IN LISTS entries)
    if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/src/${entry})
      list(APPEND all_subsystems ${entry})
    endif()
  endforeach()

  get_property(targets GLOBAL PROPERTY QV_LAYERED_TARGETS)
  set(faults)
  foreach(target IN LISTS targets)
    qv_target_subsystems(${target} allowed)
    qv_link_closure(${target} used)
    foreach(lib IN LISTS used)
      qv_target_subsystems(${lib} lib_subsystems)
      list(APPEND allowed ${lib_subsystems})
    endforeach()

    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    set(files)
    foreach(source IN LISTS sources)
      if(source MATCHES "^\\$<" OR NOT source MATCHES "\\.(cpp|c|h)$")
        continue()
      endif()
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir} NORMALIZE OUTPUT_VARIABLE path)
      list(APPEND files ${path})
      cmake_path(REPLACE_EXTENSION path LAST_ONLY .h OUTPUT_VARIABLE header)
      if(EXISTS ${header} AND NOT header STREQUAL path)
        list(APPEND files ${header})
      endif()
    endforeach()
    list(REMOVE_DUPLICATES files)

    foreach(file IN LISTS files)
      if(NOT EXISTS ${file})
        continue()
      endif()
      file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" subsystem "${line}")
        if(subsystem IN_LIST all_subsystems AND NOT subsystem IN_LIST allowed)
          file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${file})
          string(STRIP "${line}" line)
          list(APPEND faults "  ${shown}: ${line}: ${target} does not link the ${subsystem} subsystem")
        endif()
      endforeach()
    endforeach()
  endforeach()

  if(faults)
    list(JOIN faults "\n" text)
    message(FATAL_ERROR "A library includes a subsystem it does not use:\n${text}\n"
      "Link the library that owns the header (if the dependency points downward), "
      "or move the code to the layer that may use it.")
  endif()
endfunction()
