# Installs the build into a temporary prefix and runs the installed command-line tool.
# Called by ctest with -DBUILD_DIR=... -DWORK_DIR=...
file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

foreach(f bin/corvane-cli share/man/man1/corvane-cli.1 share/doc/corvane/README.md)
  if(NOT EXISTS "${WORK_DIR}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
if(WITH_GUI)
  foreach(f bin/corvane share/applications/corvane.desktop
          share/icons/hicolor/scalable/apps/corvane.svg)
    if(NOT EXISTS "${WORK_DIR}/${f}")
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endforeach()
endif()

execute_process(COMMAND "${WORK_DIR}/bin/corvane-cli" --help
                RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT help MATCHES "write-firmware" OR NOT help MATCHES "--simulate")
  message(FATAL_ERROR "installed corvane-cli --help: ${rc}\n${help}${err}")
endif()
execute_process(COMMAND "${WORK_DIR}/bin/corvane-cli" models
                RESULT_VARIABLE rc OUTPUT_VARIABLE models ERROR_VARIABLE err)
foreach(model "DSX6071/6072" DSI185 BCT13 TS1 DSX6070 "TVN box" STB3100 DSX6170)
  if(NOT models MATCHES "${model}")
    message(FATAL_ERROR "installed corvane-cli models lacks ${model}:\n${models}${err}")
  endif()
endforeach()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installed corvane-cli models: ${rc}")
endif()

# Output nobody reads any more (| true, > /dev/full) is an error the command says, never a
# death by SIGPIPE half way through a write nor a success.
set(cli "${WORK_DIR}/bin/corvane-cli" --simulate "${WORK_DIR}/vd" --model DSX6070)
execute_process(COMMAND ${cli} read-firmware "${WORK_DIR}/image.bin" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installed corvane-cli read-firmware: ${rc}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "XDG_DATA_HOME=${WORK_DIR}/data"
                        ${cli} --no-backup write-firmware "${WORK_DIR}/image.bin"
                COMMAND true
                RESULTS_VARIABLE results ERROR_VARIABLE err)
list(GET results 0 rc)
set(log "")
if(EXISTS "${WORK_DIR}/data/corvane/Firmware.log")
  file(READ "${WORK_DIR}/data/corvane/Firmware.log" log)
endif()
if(NOT rc EQUAL 1 OR NOT err MATCHES "standard output" OR
   (NOT log STREQUAL "" AND NOT log MATCHES "(Done|Stopped)"))
  message(FATAL_ERROR "write-firmware | true: exit ${rc}\n${err}\nlog:\n${log}")
endif()
execute_process(COMMAND ${cli} peek 80000000 OUTPUT_FILE /dev/full RESULT_VARIABLE rc
                ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT err MATCHES "standard output could not be written")
  message(FATAL_ERROR "peek > /dev/full: exit ${rc}\n${err}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
