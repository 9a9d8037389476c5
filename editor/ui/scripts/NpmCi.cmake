# Installs the editor document's npm packages into PACKAGES (a folder named by the package lock's hash)
# once: every build folder of a checkout shares them. A lock file keeps two builds from installing at once.
# Usage: cmake -DSOURCE=<editor/ui> -DPACKAGES=<folder> -DNPM=<npm> -P NpmCi.cmake
set(_stamp ${PACKAGES}/node_modules/.tavrin-npm-ci)
file(MAKE_DIRECTORY ${PACKAGES})
file(LOCK ${PACKAGES}.lock GUARD PROCESS TIMEOUT 600)
if(NOT EXISTS ${_stamp})
  file(COPY ${SOURCE}/package.json ${SOURCE}/package-lock.json DESTINATION ${PACKAGES})
  execute_process(COMMAND ${NPM} ci --no-audit --no-fund --loglevel=error
    WORKING_DIRECTORY ${PACKAGES} RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "npm ci failed (${_result}) in ${PACKAGES}")
  endif()
  file(TOUCH ${_stamp})
endif()
