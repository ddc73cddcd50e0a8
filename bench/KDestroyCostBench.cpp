// Work that must grow linearly with what it touches, each timed at a size and at half of it:
// ratio_to_half stays near 2 when it does (near 4 when it grows as the square).
// - destroying user property records one by one, each listed by one of many nodes;
// - destroying a geometry's links one by one (in order and in a random order), and a mesh whose
//   links all name one bone;
// - destroying a geometry's shapes one by one, and last first and in a random order on a mesh
//   of a node with takes;
// - writing a version-5 file of a mesh of many shapes, and files of both versions of many takes;
//   reading a file of many takes;
// - clearing a scene whose root children have children while many scenes live;
// - joining nodes, leaves and ones holding a child, below a root while many scenes live and
//   another scene's root lies at the end of a long chain;
// - reading a version-5 file of many textures (materials) that differ only past the name;
// - renaming a take of an object of many takes and selecting it by its new name;
// - extracting many embedded media of one base name (numbered folders 1/, 2/ ...);
// - reading a model of many animated user properties, as text and as a version-5 binary file;
// - reading a mesh of many animated shapes, and adding many shapes to a mesh on a node;
// - finding a node's first child by name among many children, again and again;
// - making many properties of one object under one name.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "KBenchSideBySide.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovStream.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQov6.h"
#include "platform/KPlatformFile.h"
#include "scene/KDataType.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

// Seconds of `timed` after an untimed `setup`, the best of three (of QOV_COST_RUNS when set).
double Best(const std::function<void()>& setup, const std::function<void()>& timed) {
    double best = 1e9;
    const char* runs = std::getenv("QOV_COST_RUNS");
    for (int run = 0; run < (runs ? std::max(1, std::atoi(runs)) : 3); ++run) {
        setup();
        const auto start = std::chrono::steady_clock::now();
        timed();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// Times the work at n and at n / 2; `work(n)` gives the setup and the timed part.
template <class Work>
void AtSizeAndHalf(benchmark::State& state, Work work) {
    const int n = int(state.range(0));
    double full = 0, half = 0;
    for (auto _ : state) {
        half = work(n / 2);
        full = work(n);
    }
    state.counters["ms"] = full * 1e3;
    state.counters["ms_half"] = half * 1e3;
    state.counters["ratio_to_half"] = half > 0 ? full / half : 0;
}

// AtSizeAndHalf with `work(folder, n)` given a temporary folder of its own (a path ending in
// '/'), removed after.
template <class Work>
void AtSizeAndHalfInFolder(benchmark::State& state, const char* name, Work work) {
    const std::string folder =
        KPlatformGetTempFolder() + "/qov_" + name + "_" + qovbench::RunId() + "/";
    std::filesystem::create_directories(folder);
    AtSizeAndHalf(state, [&](int n) { return work(folder, n); });
    std::filesystem::remove_all(folder);
}

void BM_CostDestroyUserProperties(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        std::vector<KQovUserProperty*> records;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                records.clear();
                for (int i = 0; i < n; ++i) {
                    KQovNode* node = manager->CreateNode(("N" + std::to_string(i)).c_str());
                    node->GetUserPropertyCount();  // the node's own records made
                    records.push_back(manager->CreateUserProperty("Weight", "Real", "Weight"));
                    node->AddUserProperty(records.back());
                }
            },
            [&] {
                for (KQovUserProperty* record : records) manager->DestroyUserProperty(record);
            });
    });
}

// A mesh of n links, naming n bones or all one bone.
struct Skin {
    std::unique_ptr<KQovObjectManager> manager;
    KQovMesh* mesh = nullptr;
    std::vector<KQovLink*> links;

    void Make(int n, bool oneBone) {
        manager = std::make_unique<KQovObjectManager>();
        mesh = manager->CreateMesh();
        links.clear();
        KQovNode* bone = manager->CreateNode("Bone");
        for (int i = 0; i < n; ++i) {
            if (!oneBone && i > 0) bone = manager->CreateNode(("Bone" + std::to_string(i)).c_str());
            KQovLink* link = manager->CreateLink();
            link->SetLink(bone);
            link->AddControlPointIndex(i, 1.0);
            mesh->AddLink(link);
            links.push_back(link);
        }
    }
};

void BM_CostDestroyLinksOneByOne(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        Skin skin;
        return Best([&] { skin.Make(n, false); },
                    [&] {
                        for (KQovLink* link : skin.links) skin.manager->DestroyLink(link);
                    });
    });
}

void BM_CostDestroyLinksInRandomOrder(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        Skin skin;
        return Best(
            [&] {
                skin.Make(n, false);
                std::shuffle(skin.links.begin(), skin.links.end(), std::mt19937(7));
            },
            [&] {
                for (KQovLink* link : skin.links) skin.manager->DestroyLink(link);
            });
    });
}

void BM_CostDestroyMeshOfOneBone(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        Skin skin;
        return Best([&] { skin.Make(n, true); },
                    [&] { skin.manager->DestroyNodeAttribute(skin.mesh); });
    });
}

// A mesh of n shapes, on a node of four takes when `onNode`.
struct ShapeSet {
    std::unique_ptr<KQovObjectManager> manager;
    std::vector<KQovShape*> shapes;
    KQovNode* node = nullptr;

    void Make(int n, bool onNode) {
        manager = std::make_unique<KQovObjectManager>();
        KQovMesh* mesh = manager->CreateMesh();
        node = nullptr;
        if (onNode) {
            node = manager->CreateNode("Face");
            for (int t = 1; t < 4; ++t) node->AddTakeNode(("Take " + std::to_string(t)).c_str());
            node->SetNodeAttribute(mesh);
        }
        shapes.clear();
        for (int i = 0; i < n; ++i) {
            shapes.push_back(manager->CreateShape());
            mesh->AddShape(shapes.back(), ("Shape" + std::to_string(i)).c_str());
        }
    }
};

void BM_CostDestroyShapesOneByOne(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        ShapeSet set;
        return Best([&] { set.Make(n, false); },
                    [&] {
                        for (KQovShape* shape : set.shapes) set.manager->DestroyShape(shape);
                    });
    });
}

// The shapes destroyed last first, the mesh on a node.
void BM_CostDestroyShapesLastFirstOnANode(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        ShapeSet set;
        return Best([&] { set.Make(n, true); },
                    [&] {
                        for (auto shape = set.shapes.rbegin(); shape != set.shapes.rend(); ++shape)
                            set.manager->DestroyShape(*shape);
                    });
    });
}

// The shapes destroyed in a random order, the mesh on a node.
void BM_CostDestroyShapesInRandomOrderOnANode(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        ShapeSet set;
        return Best(
            [&] {
                set.Make(n, true);
                std::shuffle(set.shapes.begin(), set.shapes.end(), std::mt19937(7));
            },
            [&] {
                for (KQovShape* shape : set.shapes) set.manager->DestroyShape(shape);
            });
    });
}

// A scene written by `writer` into a binary file of the folder; false when it was not.
template <class Writer>
bool WriteBinary(KQovObjectManager& manager, KQovScene* scene, const std::string& name) {
    KStreamOptionsQov options;
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
    Writer writer(&manager, nullptr);
    writer.SetFileMode(Writer::eBinary);
    if (!writer.FileCreate(name.c_str())) return false;
    const bool ok = writer.Write(scene, &options);
    return writer.FileClose() && ok;
}

// A version-5 file of a mesh of n shapes, on a node of four takes.
void BM_CostWriteVersion5ManyShapes(benchmark::State& state) {
    AtSizeAndHalfInFolder(state, "v5shapes", [](const std::string& folder, int n) {
        ShapeSet set;
        KQovScene* scene = nullptr;
        return Best(
            [&] {
                set.Make(n, true);
                scene = set.manager->CreateScene();
                scene->GetRootNode()->AddChild(set.node);
            },
            [&] {
                if (!WriteBinary<KQovWriterQov5>(*set.manager, scene, folder + "shapes.qov"))
                    std::abort();
            });
    });
}

// Files of four nodes animated in each of n takes, each take with its record.
template <class Writer>
void WriteManyTakes(benchmark::State& state, const char* name) {
    AtSizeAndHalfInFolder(state, name, [name](const std::string& folder, int n) {
        std::unique_ptr<KQovObjectManager> manager;
        KQovScene* scene = nullptr;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                scene = manager->CreateScene();
                for (int o = 0; o < 4; ++o) {
                    KQovNode* node = manager->CreateNode(("Mover" + std::to_string(o)).c_str());
                    scene->GetRootNode()->AddChild(node);
                    for (int t = 0; t < n; ++t) {
                        KFCurve* curve =
                            node->AddTakeNode(("Take " + std::to_string(t)).c_str())->GetTranslationX();
                        curve->ResizeKeyBuffer(2);
                        curve->KeySet(0, KTime(0), float(t));
                        curve->KeySet(1, KTime(1539538600), float(t + 1));
                        curve->CommitKeys(2);
                    }
                }
                // Each take with its record, as a file's takes are read.
                for (int t = 0; t < n; ++t) {
                    KQovTakeInfo info;
                    info.name = ("Take " + std::to_string(t)).c_str();
                    scene->SetTakeInfo(info);
                }
            },
            [&] {
                if (!WriteBinary<Writer>(*manager, scene, folder + name + ".qov")) std::abort();
            });
    });
}

void BM_CostWriteManyTakesVersion5(benchmark::State& state) {
    WriteManyTakes<KQovWriterQov5>(state, "v5takes");
}

void BM_CostWriteManyTakesVersion6(benchmark::State& state) {
    WriteManyTakes<KQovWriterQov6>(state, "v6takes");
}

// A version-6 file of four nodes animated in each of n takes, each take with its record, read
// into a scene as qovtool reads it.
void BM_CostReadManyTakes(benchmark::State& state) {
    AtSizeAndHalfInFolder(state, "readtakes", [](const std::string& folder, int n) {
        const std::string name = folder + "takes" + std::to_string(n) + ".qov";
        {
            KQovObjectManager manager;
            KQovScene* scene = manager.CreateScene();
            for (int o = 0; o < 4; ++o) {
                KQovNode* node = manager.CreateNode(("Mover" + std::to_string(o)).c_str());
                scene->GetRootNode()->AddChild(node);
                for (int t = 0; t < n; ++t) {
                    KFCurve* curve =
                        node->AddTakeNode(("Take " + std::to_string(t)).c_str())->GetTranslationX();
                    curve->ResizeKeyBuffer(1);
                    curve->KeySet(0, KTime(0), float(t));
                    curve->CommitKeys(1);
                }
            }
            for (int t = 0; t < n; ++t) {
                KQovTakeInfo info;
                info.name = ("Take " + std::to_string(t)).c_str();
                scene->SetTakeInfo(info);
            }
            if (!WriteBinary<KQovWriterQov6>(manager, scene, name)) std::abort();
        }
        std::unique_ptr<KQovObjectManager> manager;
        KQovScene* scene = nullptr;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                scene = manager->CreateScene();
            },
            [&] {
                KQovImporter importer(manager.get());
                if (!importer.Initialize(name.c_str()) || !importer.Import(scene, nullptr) ||
                    scene->GetTakeInfoCount() != n)
                    std::abort();
            });
    });
}

// One of n / 100 live scenes cleared, its root holding n children of one child each.
void BM_CostClearSceneAmongMany(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        KQovScene* scene = nullptr;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                scene = manager->CreateScene();
                for (int s = 1; s < n / 100; ++s) manager->CreateScene();
                for (int i = 0; i < n; ++i) {
                    const std::string name = "N" + std::to_string(i);
                    KQovNode* child = manager->CreateNode(name.c_str());
                    child->AddChild(manager->CreateNode((name + "a").c_str()));
                    scene->GetRootNode()->AddChild(child);
                }
            },
            [&] { scene->Clear(); });
    });
}

// n nodes, half of them holding a child, joined below a scene's root while n / 100 scenes live
// and one of them has its root at the end of a chain of n nodes.
void BM_CostJoinAmongManyScenes(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        KQovScene* scene = nullptr;
        std::vector<KQovNode*> nodes;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                scene = manager->CreateScene();
                for (int s = 1; s < n / 100; ++s) manager->CreateScene();
                KQovNode* end = manager->CreateNode("Chain");
                for (int i = 0; i < n; ++i) {
                    KQovNode* next = manager->CreateNode("Chain");
                    end->AddChild(next);
                    end = next;
                }
                end->AddChild(manager->CreateScene()->GetRootNode());
                nodes.clear();
                for (int i = 0; i < n; ++i) {
                    nodes.push_back(manager->CreateNode("N"));
                    if (i % 2) nodes.back()->AddChild(manager->CreateNode("Na"));
                }
            },
            [&] {
                for (KQovNode* node : nodes) scene->GetRootNode()->AddChild(node);
            });
    });
}

// A version-5 file of n textures of one name stem and file, each placed apart, and n materials
// of one name, each coloured apart (none merge), on one mesh; the read is timed.
void BM_CostReadVersion5TexturesPlacedApart(benchmark::State& state) {
    AtSizeAndHalfInFolder(state, "costtextures", [](const std::string& folder, int n) {
        const std::string file = folder + "textures" + std::to_string(n) + ".qov";
        {
            KQovObjectManager manager;
            KQovScene* scene = manager.CreateScene();
            KQovMesh* mesh = manager.CreateMesh();
            mesh->InitControlPoints(3);
            mesh->BeginPolygon();
            for (int v = 0; v < 3; ++v) mesh->AddPolygonVertex(v);
            for (int i = 0; i < n; ++i) {
                KQovTexture* texture = manager.CreateTexture(("Wood " + std::to_string(i)).c_str());
                texture->SetFileName("wood.png");
                texture->SetDefaultTranslation(i, 0.0);
                mesh->AddTexture(texture, 0);
                KQovMaterial* material = manager.CreateMaterial("Paint");
                material->SetDefaultDiffuse(KColor(i / double(n), 0.5, 0.5));
                mesh->AddMaterial(material, 0);
            }
            KQovNode* node = manager.CreateNode("Board");
            node->SetNodeAttribute(mesh);
            scene->GetRootNode()->AddChild(node);
            KStreamOptionsQov options;
            for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
            KQovWriterQov5 writer(&manager, nullptr);
            if (!writer.FileCreate(file.c_str()) || !writer.Write(scene, &options) ||
                !writer.FileClose())
                return 0.0;
        }
        std::unique_ptr<KQovObjectManager> manager;
        return Best([&] { manager = std::make_unique<KQovObjectManager>(); },
                    [&] {
                        KQovImporter importer(manager.get());
                        if (importer.Initialize(file.c_str()))
                            importer.Import(manager->CreateScene(), nullptr);
                    });
    });
}

// Four objects of n takes: each take of the first is renamed, then selected by name on all.
void BM_CostRenameAndSelectTake(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        std::vector<KQovNode*> nodes;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                nodes.clear();
                for (int o = 0; o < 4; ++o) {
                    nodes.push_back(manager->CreateNode(("Mover" + std::to_string(o)).c_str()));
                    for (int t = 0; t < n; ++t)
                        nodes.back()->AddTakeNode(("Take " + std::to_string(t)).c_str());
                }
            },
            [&] {
                for (int t = 1; t <= n; ++t) {
                    const std::string name = "Renamed " + std::to_string(t);
                    nodes[0]->GetTakeNode(t)->SetName(name.c_str());
                    for (KQovNode* node : nodes) node->SetCurrentTakeNode(name.c_str());
                }
            });
    });
}

// A file of n embedded media of one base name, each extracted into the media folder.
void BM_CostEmbeddedMediaOfOneName(benchmark::State& state) {
    AtSizeAndHalfInFolder(state, "costmedia", [](const std::string& folder, int n) {
        const std::string file = folder + "media" + std::to_string(n) + ".qov";
        {
            KQovFieldFile out;
            if (!out.Create(file.c_str(), true, false, nullptr)) return 0.0;
            for (int i = 0; i < n; ++i) {
                const std::string bytes = "image " + std::to_string(i);
                out.FieldWriteBegin("Content");
                out.FieldWriteR(uint32_t(bytes.size()));
                out.GetStream()->Write(bytes.data(), bytes.size());
                out.FieldWriteEnd();
            }
            out.FieldFileClose();
        }
        const std::string media = folder + "media" + std::to_string(n) + ".qom";
        return Best([&] { std::filesystem::remove_all(media); },
                    [&] {
                        KQovFieldFile in;
                        if (!in.Open(file.c_str(), false, true, nullptr)) return;
                        KString path;
                        bool written = false;
                        for (int i = 0; i < n; ++i) {
                            if (!in.FieldReadBegin("Content", i)) return;
                            in.ExtractMedia(path, ("take" + std::to_string(i) + "/image.png").c_str(),
                                            "", written);
                            in.FieldReadEnd();
                        }
                    });
    });
}

// Reads `file` into a new scene: the timed part of the reading rows.
double ReadBest(const std::string& file) {
    std::unique_ptr<KQovObjectManager> manager;
    return Best([&] { manager = std::make_unique<KQovObjectManager>(); },
                [&] {
                    KQovImporter importer(manager.get());
                    if (importer.Initialize(file.c_str()))
                        importer.Import(manager->CreateScene(), nullptr);
                });
}

// A text file of one model: `properties` writes its property records, `channels` its channels in
// a take of one second.
template <class Properties, class Channels>
bool WriteOneModel(const std::string& file, const char* type, Properties properties,
                   Channels channels) {
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f,
                 "; QOV 6.0.0 project file\nQOVHeaderExtension:  {\n    QOVHeaderVersion: 1003\n"
                 "    QOVVersion: 6000\n}\nDefinitions:  {\n    Version: 100\n    Count: 1\n"
                 "    ObjectType: \"Model\" {\n        Count: 1\n    }\n}\nObjects:  {\n"
                 "    Model: \"Model::Box\", \"%s\" {\n        Version: 232\n",
                 type);
    properties(f);
    std::fprintf(f,
                 "    }\n}\nConnections:  {\n    Connect: \"OO\", \"Model::Box\", \"Model::Scene\"\n}\n"
                 "Takes:  {\n    Current: \"Take 001\"\n    Take: \"Take 001\" {\n"
                 "        LocalTime: 0,46186158000\n        Model: \"Model::Box\" {\n");
    channels(f);
    std::fprintf(f, "        }\n    }\n}\n");
    return std::fclose(f) == 0;
}

void WriteKeyedChannel(FILE* f, const char* prefix, int i) {
    std::fprintf(f,
                 "            Channel: \"%s%d\" {\n                Default: 0\n"
                 "                KeyVer: 4005\n                KeyCount: 2\n"
                 "                Key: 0,0,L,46186158000,1,L\n            }\n",
                 prefix, i);
}

// A model of n animated user properties, as text or (converted) as a version-5 binary file.
std::string UserPropertiesFile(const std::string& folder, int n, bool version5) {
    const std::string text = folder + "users" + std::to_string(n) + ".qov";
    WriteOneModel(
        text, "Null",
        [n](FILE* f) {
            std::fprintf(f, "        Properties60:  {\n");
            for (int i = 0; i < n; ++i)
                std::fprintf(f, "            Property: \"P%d\", \"Number\", \"AU\",8,%d,0,10\n", i,
                             i % 7);
            std::fprintf(f, "        }\n");
        },
        [n](FILE* f) {
            for (int i = 0; i < n; ++i) WriteKeyedChannel(f, "P", i);
        });
    if (!version5) return text;
    const std::string binary = folder + "users" + std::to_string(n) + "v5.qov";
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    if (!importer.Initialize(text.c_str()) || !importer.Import(scene, nullptr)) return text;
    KStreamOptionsQov options;
    for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
    KQovWriterQov5 writer(&manager, nullptr);
    if (!writer.FileCreate(binary.c_str()) || !writer.Write(scene, &options) || !writer.FileClose())
        return text;
    return binary;
}

void BM_CostReadManyUserProperties(benchmark::State& state) {
    AtSizeAndHalfInFolder(state, "costusers", [](const std::string& folder, int n) {
        return ReadBest(UserPropertiesFile(folder, n, false));
    });
}

void BM_CostReadManyUserPropertiesVersion5(benchmark::State& state) {
    AtSizeAndHalfInFolder(state, "costusers5", [](const std::string& folder, int n) {
        return ReadBest(UserPropertiesFile(folder, n, true));
    });
}

// A triangle of n shapes, each with a channel of two keys.
void BM_CostReadManyShapes(benchmark::State& state) {
    AtSizeAndHalfInFolder(state, "costshapes", [](const std::string& folder, int n) {
        const std::string file = folder + "shapes" + std::to_string(n) + ".qov";
        WriteOneModel(
            file, "Mesh",
            [n](FILE* f) {
                std::fprintf(f, "        Vertices: 0,0,0,1,0,0,0,1,0\n"
                                "        PolygonVertexIndex: 0,1,-3\n");
                for (int i = 0; i < n; ++i)
                    std::fprintf(f, "        Shape: \"S%d\" {\n            Indexes: 0\n"
                                    "            Vertices: 0,0,1\n        }\n", i);
            },
            [n](FILE* f) {
                for (int i = 0; i < n; ++i) WriteKeyedChannel(f, "S", i);
            });
        return ReadBest(file);
    });
}

// n shapes added to a mesh on a node, under names of their own or all under one (numbered).
void AddShapesOnANode(benchmark::State& state, bool oneName) {
    AtSizeAndHalf(state, [oneName](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        KQovMesh* mesh = nullptr;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                mesh = manager->CreateMesh();
                manager->CreateNode("Face")->SetNodeAttribute(mesh);
            },
            [&] {
                for (int i = 0; i < n; ++i) {
                    if (oneName)
                        mesh->AddShapeRenaming(manager->CreateShape(), "Shape");
                    else
                        mesh->AddShape(manager->CreateShape(), ("Shape" + std::to_string(i)).c_str());
                }
            });
    });
}

void BM_CostAddShapesOnANode(benchmark::State& state) { AddShapesOnANode(state, false); }

void BM_CostAddShapesOfOneName(benchmark::State& state) { AddShapesOnANode(state, true); }

// n properties made on a node's property set under one name ("P", "P 0", "P 1" ...).
void BM_CostCreatePropertiesOfOneName(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        KObject* set = nullptr;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                set = manager->CreateNode("Props")->GetNodeProperties();
            },
            [&] {
                KDataType* type = KDataType::FindByName("Number");
                for (int i = 0; i < n; ++i)
                    set->CreateProperty("P", KProperty::eDOUBLE, type, false, false);
            });
    });
}

// n lookups of the first of n children.
void BM_CostFindFirstChildAmongMany(benchmark::State& state) {
    AtSizeAndHalf(state, [](int n) {
        std::unique_ptr<KQovObjectManager> manager;
        KQovNode* root = nullptr;
        return Best(
            [&] {
                manager = std::make_unique<KQovObjectManager>();
                root = manager->CreateNode("Root");
                for (int i = 0; i < n; ++i)
                    root->AddChild(manager->CreateNode(("N" + std::to_string(i)).c_str()));
            },
            [&] {
                for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(root->FindChild("N0", true));
            });
    });
}

}  // namespace

BENCHMARK(BM_CostDestroyUserProperties)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyLinksOneByOne)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyLinksInRandomOrder)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyMeshOfOneBone)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyShapesOneByOne)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyShapesLastFirstOnANode)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostDestroyShapesInRandomOrderOnANode)->Arg(64000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostWriteVersion5ManyShapes)->Arg(64000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostWriteManyTakesVersion5)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostWriteManyTakesVersion6)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostReadManyTakes)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostClearSceneAmongMany)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostJoinAmongManyScenes)->Arg(40000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostReadVersion5TexturesPlacedApart)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostRenameAndSelectTake)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostEmbeddedMediaOfOneName)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostReadManyUserProperties)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostReadManyUserPropertiesVersion5)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostReadManyShapes)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostAddShapesOnANode)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostAddShapesOfOneName)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostCreatePropertiesOfOneName)->Arg(16000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CostFindFirstChildAmongMany)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);
