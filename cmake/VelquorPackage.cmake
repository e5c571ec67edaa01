# velquor_add_package(name SOURCES src... [LIBS lib...] [OUTPUT_DIRECTORY dir])
#
# Builds the package <name>.pck: a MODULE library (loaded with dlopen, never
# linked) carrying the package entry objects and a private copy of the SDK,
# compiled with hidden visibility. A version script exports exactly
# DAXOPckInit and DAXOGetModulesDefStruct, so that two packages loaded
# together never interpose each other's symbols; -z defs turns a missing
# symbol into a link error instead of a load failure.
#
# The file goes to ${CMAKE_BINARY_DIR}/packages, where the engine and the tool
# look in the build tree, and is installed to lib/velquor/packages
# (VELQUOR_PACKAGE_INSTALL_DIR), where an installed tool looks.
# OUTPUT_DIRECTORY puts a package elsewhere and leaves it out of the install
# (test packages, which the tool must not list).
#
# The same file serves this tree and, installed with the SDK, a package
# author's own project (find_package(VelquorSDK)): both name the SDK by its
# velquor:: targets. Only this tree adds its warning set.
include_guard(GLOBAL)

if(NOT DEFINED VELQUOR_PACKAGE_INSTALL_DIR)
  set(VELQUOR_PACKAGE_INSTALL_DIR lib/velquor/packages)
endif()

function(velquor_add_package name)
  cmake_parse_arguments(P "" "OUTPUT_DIRECTORY" "SOURCES;LIBS" ${ARGN})
  if(NOT P_SOURCES)
    message(FATAL_ERROR "velquor_add_package(${name}): no SOURCES")
  endif()
  set(install_it TRUE)
  if(P_OUTPUT_DIRECTORY)
    set(install_it FALSE)
  else()
    set(P_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
  endif()

  # Beside this file, wherever the caller lives.
  set(map ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/package.map)
  add_library(${name} MODULE ${P_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".pck"
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${P_OUTPUT_DIRECTORY}
    LINK_DEPENDS ${map})
  # Linking the OBJECT library directly puts its objects into the package.
  target_link_libraries(${name} PRIVATE velquor::pck_entry velquor::sdk ${P_LIBS})
  if(TARGET daxo_project_options)
    target_link_libraries(${name} PRIVATE daxo_project_options)
  endif()
  target_link_options(${name} PRIVATE
    "LINKER:--version-script=${map}"
    "LINKER:-z,defs")
  if(install_it)
    install(TARGETS ${name} LIBRARY DESTINATION ${VELQUOR_PACKAGE_INSTALL_DIR} COMPONENT runtime)
  endif()
endfunction()
