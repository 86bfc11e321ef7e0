# Makes the package's wheel in WHEEL_DIR from the sources in SOURCE_DIR (python/) with the given
# ovik/_install.py, through a scratch copy in STAGE (setuptools builds in the tree it is given).
# Run with `cmake -P` or include()d with the variables set; BUILDER is the interpreter.
foreach(var SOURCE_DIR INSTALL_PY STAGE WHEEL_DIR BUILDER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_wheel.cmake: ${var} not given")
  endif()
endforeach()
file(REMOVE_RECURSE "${STAGE}")
file(GLOB modules "${SOURCE_DIR}/ovik/*.py")
list(FILTER modules EXCLUDE REGEX "/_install\\.py$")
file(COPY ${modules} "${INSTALL_PY}" DESTINATION "${STAGE}/ovik")
file(COPY "${SOURCE_DIR}/pyproject.toml" DESTINATION "${STAGE}")
file(MAKE_DIRECTORY "${WHEEL_DIR}")
# Debian's setuptools announces that it replaces distutils, at every build.
set(ENV{PYTHONWARNINGS} "ignore")
execute_process(
  COMMAND "${BUILDER}" -m pip wheel --quiet --disable-pip-version-check --no-cache-dir --no-index
          --no-build-isolation --no-deps --wheel-dir "${WHEEL_DIR}" "${STAGE}"
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the Python package's wheel could not be made with ${BUILDER}")
endif()
