# Installs the built library into a fresh prefix, then configures, builds and runs a small
# program that finds it through find_package(qovsdk CONFIG REQUIRED).
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/consumer)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()

file(WRITE ${WORK_DIR}/consumer/CMakeLists.txt [=[
cmake_minimum_required(VERSION 3.20)
project(consumer CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(qovsdk CONFIG REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE qovsdk::qovsdk)
]=])
file(WRITE ${WORK_DIR}/consumer/main.cpp [=[
#include <cstdio>
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovNode.h"

int main() {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovNode* node = manager.CreateNode("Box");
    scene->GetRootNode()->AddChild(node);
    std::printf("%d\n", scene->GetRootNode()->GetChildCount());
    return scene->GetRootNode()->GetChildCount() == 1 ? 0 : 1;
}
]=])

set(flags "")
if(SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK_DIR}/consumer -B ${WORK_DIR}/consumer/build
                        -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_COMPILER=${CXX}
                        "-DCMAKE_EXE_LINKER_FLAGS=${flags}" "-DCMAKE_CXX_FLAGS=${flags}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer/build RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${WORK_DIR}/consumer/build/consumer RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the consumer failed: ${rc}")
endif()
