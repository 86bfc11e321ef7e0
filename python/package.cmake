# The Python package as pip installs it, shared by the build (python/) and the install
# (packaging/): the name of its wheel and an interpreter that can make one.
include_guard(DIRECTORY)

set(OVIK_PYTHON_WHEEL_NAME ovik-${PROJECT_VERSION}-py3-none-any.whl)

# Making the wheel takes setuptools 61 or later (it reads pyproject.toml), wheel (its bdist_wheel)
# and pip. Debian's python3 has them as packages; a pyenv interpreter often lacks wheel, so the
# configured one is tried first and Debian's after it.
set(OVIK_PYTHON_WHEEL_BUILDER "")
find_package(Python3 QUIET COMPONENTS Interpreter)
foreach(candidate ${Python3_EXECUTABLE} /usr/bin/python3)
  if(EXISTS "${candidate}")
    execute_process(COMMAND "${candidate}" -c
      "import setuptools, wheel, pip; assert int(setuptools.__version__.split('.')[0]) >= 61"
      RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
    if(NOT missing)
      set(OVIK_PYTHON_WHEEL_BUILDER "${candidate}")
      break()
    endif()
  endif()
endforeach()
get_property(told GLOBAL PROPERTY OVIK_PYTHON_NO_WHEEL_TOLD)
if(NOT OVIK_PYTHON_WHEEL_BUILDER AND NOT told)
  set_property(GLOBAL PROPERTY OVIK_PYTHON_NO_WHEEL_TOLD TRUE)
  message(STATUS "No python3 with pip, setuptools (61 or later) and wheel: the Python package gets "
                 "no wheel (Debian: python3-pip python3-setuptools python3-wheel)")
endif()

# The text of ovik/_install.py for a library at `library` (a path or a generator expression).
function(ovik_python_install_text out library)
  string(CONCAT text
    "# Written when the package was built or installed: the library it loads unless told\n"
    "# otherwise, and the project's version.\n"
    "LIBRARY = \"${library}\"\n"
    "VERSION = \"${PROJECT_VERSION}\"\n")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
