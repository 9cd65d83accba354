# The Python binding: installed where Debian's python3 looks, as its own
# component so that it can become a package of its own.
set(python_package ${PROJECT_SOURCE_DIR}/bindings/python/tivlink)

# The binding states the library's version; keep the two from parting.
file(STRINGS ${python_package}/_version.py python_version_line REGEX "^__version__ = ")
if(NOT python_version_line STREQUAL "__version__ = \"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "bindings/python/tivlink/_version.py says '${python_version_line}'; "
                      "the project version is ${PROJECT_VERSION}: make them agree")
endif()

if(NOT WIN32)
  set(TIVLINK_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING
      "Where the Python package goes, relative to the install prefix")
  install(DIRECTORY ${python_package} DESTINATION ${TIVLINK_PYTHON_INSTALL_DIR}
          COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "py.typed"
          PATTERN "__pycache__" EXCLUDE)
endif()
