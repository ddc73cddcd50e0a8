# Installs the built library into a fresh prefix, then configures, builds and runs the program the
# README shows (its CMakeLists.txt and app.cpp, taken from the README's cmake and cpp blocks)
# against it; the installed qovtool reads what the program wrote, and a version the install does
# not satisfy is refused by find_package.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/consumer ${WORK_DIR}/newer)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
foreach(installed bin/qovtool include/qovsdk/KQovVersion.h lib/cmake/qovsdk/qovsdkConfig.cmake
                  lib/cmake/qovsdk/qovsdkConfigVersion.cmake)
  # The library folder may be lib64 on some systems.
  string(REPLACE "lib/" "lib*/" pattern "${installed}")
  file(GLOB found ${WORK_DIR}/prefix/${pattern})
  if(NOT found)
    message(FATAL_ERROR "the install lacks ${installed}")
  endif()
endforeach()

# The text of the README's first fenced block of `language`.
function(readme_block language out)
  file(READ ${SOURCE_DIR}/README.md readme)
  string(FIND "${readme}" "```${language}\n" begin)
  if(begin EQUAL -1)
    message(FATAL_ERROR "README.md has no ${language} block")
  endif()
  string(LENGTH "```${language}\n" skip)
  math(EXPR begin "${begin} + ${skip}")
  string(SUBSTRING "${readme}" ${begin} -1 rest)
  string(FIND "${rest}" "```" end)
  string(SUBSTRING "${rest}" 0 ${end} block)
  set(${out} "${block}" PARENT_SCOPE)
endfunction()
readme_block(cmake lists)
readme_block(cpp program)
file(WRITE ${WORK_DIR}/consumer/CMakeLists.txt "${lists}")
file(WRITE ${WORK_DIR}/consumer/app.cpp "${program}")

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()
set(configure_args -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_COMPILER=${CXX}
                   "-DCMAKE_EXE_LINKER_FLAGS=${flags}" "-DCMAKE_CXX_FLAGS=${flags}")

# A project asking for a later major version than the install's is refused.
string(REPLACE "find_package(qovsdk 1.0 " "find_package(qovsdk 2.0 " newer "${lists}")
if(newer STREQUAL lists)
  message(FATAL_ERROR "the README's CMakeLists.txt does not ask for qovsdk 1.0")
endif()
file(WRITE ${WORK_DIR}/newer/CMakeLists.txt "${newer}")
file(WRITE ${WORK_DIR}/newer/app.cpp "${program}")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK_DIR}/newer -B ${WORK_DIR}/newer/build
                        ${configure_args}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE error)
if(rc EQUAL 0 OR NOT error MATCHES "qovsdkConfig.cmake, version: ${VERSION}")
  message(FATAL_ERROR "find_package(qovsdk 2.0) was not refused by the version file: ${error}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK_DIR}/consumer -B ${WORK_DIR}/consumer/build
                        ${configure_args}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer/build RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the consumer failed: ${rc}")
endif()

# The program reads the sample cube and writes it as QOV; the installed qovtool reads that back.
execute_process(COMMAND ${WORK_DIR}/consumer/build/app ${SOURCE_DIR}/samples/cube.obj
                        ${WORK_DIR}/cube.qov
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT rc EQUAL 0 OR NOT output MATCHES "attribute type 4\n" OR
   NOT output MATCHES "qovsdk ${VERSION} wrote ")
  message(FATAL_ERROR "the program failed (${rc}): ${output}${error}")
endif()
execute_process(COMMAND ${WORK_DIR}/prefix/bin/qovtool info ${WORK_DIR}/cube.qov
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT rc EQUAL 0 OR NOT output MATCHES "\nmeshes: 1\n")
  message(FATAL_ERROR "the installed qovtool does not read the program's file (${rc}): "
                      "${output}${error}")
endif()
# An output named without ".qov" is written with it, and the program names that file.
execute_process(COMMAND ${WORK_DIR}/consumer/build/app ${SOURCE_DIR}/samples/cube.obj
                        ${WORK_DIR}/cube.dat
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
string(FIND "${output}" " wrote ${WORK_DIR}/cube.dat.qov\n" named)
if(NOT rc EQUAL 0 OR named EQUAL -1 OR
   NOT EXISTS ${WORK_DIR}/cube.dat.qov OR EXISTS ${WORK_DIR}/cube.dat)
  message(FATAL_ERROR "the program does not name the file it wrote (${rc}): ${output}${error}")
endif()
# A 120 Hz capture written by the program keeps its rate in the file's header.
file(WRITE ${WORK_DIR}/walk.bvh "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n"
     " CHANNELS 3 Xposition Yposition Zposition\n End Site\n {\n  OFFSET 0 1 0\n }\n}\n"
     "MOTION\nFrames: 3\nFrame Time: 0.0083333\n0 0 0\n1 0 0\n2 0 0\n")
execute_process(COMMAND ${WORK_DIR}/consumer/build/app ${WORK_DIR}/walk.bvh ${WORK_DIR}/walk.qov
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the program failed on a capture (${rc}): ${output}${error}")
endif()
execute_process(COMMAND ${WORK_DIR}/prefix/bin/qovtool info ${WORK_DIR}/walk.qov
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT rc EQUAL 0 OR NOT output MATCHES "\nframe rate: 120 fps\n" OR
   NOT output MATCHES "walk: 0-0.0167 s, 3 frames")
  message(FATAL_ERROR "the program's capture lost its rate (${rc}): ${output}${error}")
endif()
# An Acclaim motion file reads through the importer alone, its skeleton from the .asf beside it.
file(WRITE ${WORK_DIR}/acclaim/walk.asf ":version 1.10\n:name walk\n:units\n  length 1\n"
     "  angle deg\n:root\n  order TX TY TZ RX RY RZ\n  axis XYZ\n  position 0 0 0\n"
     "  orientation 0 0 0\n:bonedata\n  begin\n    id 1\n    name spine\n"
     "    direction 0 1 0\n    length 1\n    axis 0 0 0 XYZ\n    dof rx ry rz\n  end\n"
     ":hierarchy\n  begin\n    root spine\n  end\n")
file(WRITE ${WORK_DIR}/acclaim/walk.amc ":FULLY-SPECIFIED\n:DEGREES\n:SAMPLES-PER-SECOND 120\n"
     "1\nroot 0 0 0 0 0 0\nspine 0 0 0\n2\nroot 1 0 0 0 0 0\nspine 10 0 0\n"
     "3\nroot 2 0 0 0 0 0\nspine 20 0 0\n")
execute_process(COMMAND ${WORK_DIR}/consumer/build/app ${WORK_DIR}/acclaim/walk.amc
                        ${WORK_DIR}/acclaim/walk.qov
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT rc EQUAL 0 OR NOT output MATCHES "spine, attribute type 3\n")
  message(FATAL_ERROR "the program failed on an AMC file (${rc}): ${output}${error}")
endif()
execute_process(COMMAND ${WORK_DIR}/prefix/bin/qovtool info ${WORK_DIR}/acclaim/walk.qov
                RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE error)
if(NOT rc EQUAL 0 OR NOT output MATCHES "\nframe rate: 120 fps\n" OR
   NOT output MATCHES "walk: 0-0.0167 s, 3 frames")
  message(FATAL_ERROR "the program's AMC file lost its motion (${rc}): ${output}${error}")
endif()
execute_process(COMMAND ${WORK_DIR}/prefix/bin/qovtool --version OUTPUT_VARIABLE output)
if(NOT output STREQUAL "qovsdk ${VERSION}\n")
  message(FATAL_ERROR "qovtool --version: ${output}")
endif()
