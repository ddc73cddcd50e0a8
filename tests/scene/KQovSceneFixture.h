#pragma once
// A manager with the scene's services installed, for the scene's tests.

#include <gtest/gtest.h>

#include "character/KQovSceneBridge.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

class SceneTest : public ::testing::Test {
protected:
    SceneTest() {
        KQovSceneBridge::Install();
        scene = manager.CreateScene();
    }
    KQovObjectManager manager;
    KQovScene* scene = nullptr;
};
