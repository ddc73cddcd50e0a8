#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "foundation/KCallbackList.h"
#include "foundation/KEventEmitter.h"
#include "platform/KPlatformFile.h"

namespace {

// A receiver that records its calls and can act on the list while it is being called.
struct Probe {
    std::vector<int>* log = nullptr;
    int id = 0;
    KCallbackList* list = nullptr;
    enum Action { kNone, kRemoveSelf, kAddOther, kDestroyList, kHandle, kRemoveNext, kDispatch };
    Action action = kNone;
    Probe* other = nullptr;
    int calls = 0;

    void OnEvent(void*, KEventRecordHeader* record) {
        ++calls;
        log->push_back(id);
        switch (action) {
            case kRemoveSelf:
                list->Remove(this, Handler());
                break;
            case kAddOther:
                list->Add(other, Handler(), 0);
                break;
            case kDestroyList:
                delete list;
                break;
            case kHandle:
                record->handled = true;
                break;
            case kRemoveNext:
                list->Remove(other, Handler());
                break;
            case kDispatch:
                action = kNone;
                list->Dispatch(nullptr, nullptr);
                break;
            case kNone:
                break;
        }
    }
    static KCallbackFunction Handler() { return KCallbackMethod<Probe, &Probe::OnEvent>; }
};

struct Fixture {
    std::vector<int> log;
    KCallbackList* list = new KCallbackList;
    std::vector<Probe> probes;
    explicit Fixture(int n) : probes(n) {
        for (int i = 0; i < n; ++i) {
            probes[i].log = &log;
            probes[i].id = i;
            probes[i].list = list;
            list->Add(&probes[i], Probe::Handler(), 0);
        }
    }
};

TEST(KCallbackList, OldestFirst) {
    Fixture f(3);
    KEventRecordHeader record;
    EXPECT_EQ(f.list->Dispatch(nullptr, &record), 0);
    EXPECT_EQ(f.log, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(f.list->Remove(&f.probes[1], Probe::Handler()), 0);
    EXPECT_EQ(f.list->Remove(&f.probes[1], Probe::Handler()), 1);
    delete f.list;
}

TEST(KCallbackList, RemoveSelfDuringDispatch) {
    Fixture f(3);
    f.probes[1].action = Probe::kRemoveSelf;
    f.list->Dispatch(nullptr, nullptr);
    EXPECT_EQ(f.log, (std::vector<int>{0, 1, 2}));
    f.log.clear();
    f.list->Dispatch(nullptr, nullptr);
    EXPECT_EQ(f.log, (std::vector<int>{0, 2}));
    delete f.list;
}

TEST(KCallbackList, RemoveAnotherDuringDispatch) {
    Fixture f(4);
    f.probes[0].action = Probe::kRemoveNext;  // not yet called: never called
    f.probes[0].other = &f.probes[2];
    f.probes[3].action = Probe::kRemoveNext;  // already called: nothing changes
    f.probes[3].other = &f.probes[1];
    f.list->Dispatch(nullptr, nullptr);
    EXPECT_EQ(f.log, (std::vector<int>{0, 1, 3}));
    delete f.list;
}

TEST(KCallbackList, AddedDuringDispatchWaits) {
    Fixture f(2);
    Probe extra;
    extra.log = &f.log;
    extra.id = 9;
    f.probes[0].action = Probe::kAddOther;
    f.probes[0].other = &extra;
    f.list->Dispatch(nullptr, nullptr);
    EXPECT_EQ(f.log, (std::vector<int>{0, 1}));
    f.probes[0].action = Probe::kNone;
    f.log.clear();
    f.list->Dispatch(nullptr, nullptr);
    EXPECT_EQ(f.log, (std::vector<int>{0, 1, 9}));
    delete f.list;
}

TEST(KCallbackList, HandledStopsAndNestedDispatch) {
    Fixture f(3);
    f.probes[1].action = Probe::kHandle;
    KEventRecordHeader record;
    f.list->Dispatch(nullptr, &record);
    EXPECT_EQ(f.log, (std::vector<int>{0, 1}));
    f.probes[1].action = Probe::kDispatch;
    f.log.clear();
    f.list->Dispatch(nullptr, nullptr);
    EXPECT_EQ(f.log, (std::vector<int>{0, 1, 0, 1, 2, 2}));
    delete f.list;
}

TEST(KCallbackList, DestroyedDuringDispatch) {
    Fixture f(3);
    f.probes[1].action = Probe::kDestroyList;
    f.list->Dispatch(nullptr, nullptr);  // ASan watches the list after the delete
    EXPECT_EQ(f.log, (std::vector<int>{0, 1}));
}

TEST(KCallbackList, ClearDuringDispatch) {
    struct Clearer {
        KCallbackList* list;
        int calls = 0;
        void OnEvent(void*, KEventRecordHeader*) {
            ++calls;
            list->Clear();
        }
    };
    KCallbackList list;
    Clearer a{&list}, b{&list};
    list.Add(&a, KCallbackMethod<Clearer, &Clearer::OnEvent>, 0);
    list.Add(&b, KCallbackMethod<Clearer, &Clearer::OnEvent>, 0);
    list.Dispatch(nullptr, nullptr);
    EXPECT_EQ(a.calls + b.calls, 1);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(KNamedCallback, RegisterAndUnregister) {
    std::vector<int> log;
    Probe probe;
    probe.log = &log;
    {
        KNamedCallback first, second;
        EXPECT_TRUE(first.Register("OnWrite", &probe, Probe::Handler()));
        EXPECT_TRUE(second.Register("onwrite", &probe, Probe::Handler()));
        KCallbackList* list = KCallbackRegistry::Find("ONWRITE");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetCount(), 2);
        list->Dispatch(nullptr, nullptr);
        EXPECT_EQ(probe.calls, 2);
        EXPECT_TRUE(first.Unregister());
        EXPECT_FALSE(first.Unregister());
        EXPECT_FALSE(first.Register("x", &probe, nullptr));
    }
    EXPECT_EQ(KCallbackRegistry::Find("OnWrite"), nullptr);  // the empty list is gone
}

TEST(KNamedCallback, UnregisterInsideItsOwnDispatch) {
    struct Once {
        KNamedCallback callback;
        int calls = 0;
        void OnEvent(void*, KEventRecordHeader*) {
            ++calls;
            callback.Unregister();  // destroys the list being dispatched
        }
    } once;
    ASSERT_TRUE(once.callback.Register("Once", &once, KCallbackMethod<Once, &Once::OnEvent>));
    KCallbackRegistry::Find("Once")->Dispatch(nullptr, nullptr);
    EXPECT_EQ(once.calls, 1);
    EXPECT_EQ(KCallbackRegistry::Find("Once"), nullptr);
}

TEST(KNamedEntryList, KeepsEntries) {
    KNamedEntry* entry = new KNamedEntry;
    entry->name = "entry";
    int index = KNamedEntryList::GetInstance().Add(entry);
    EXPECT_EQ(KNamedEntryList::GetInstance().GetAt(index), entry);
    EXPECT_EQ(KNamedEntryList::GetInstance().Add(nullptr), -1);
}

struct Catcher {
    std::vector<int32_t> codes;
    std::vector<void*> senders;
    void OnEvent(void* sender, KEventRecordHeader* record) {
        codes.push_back(static_cast<KEmitterEvent*>(record)->code);
        senders.push_back(sender);
    }
    static KCallbackFunction Handler() { return KCallbackMethod<Catcher, &Catcher::OnEvent>; }
};

TEST(KEventEmitter, ListensToItsOwnIdOnly) {
    KEventEmitter* emitter = KEventEmitter::GetInstance();
    ASSERT_NE(emitter, nullptr);
    Catcher catcher;
    EXPECT_EQ(emitter->AddListener(5, &catcher, Catcher::Handler()), 1);
    KEventEmitter::Emit(nullptr, 16);
    EXPECT_TRUE(catcher.codes.empty());
    EXPECT_EQ(KEventEmitter::Subscribe(KEventEmitter::kEventId, &catcher, Catcher::Handler()), 0);
    int object = 0;
    KEventEmitter::Emit(&object, KEventEmitter::kCodeWriteFailed);
    ASSERT_EQ(catcher.codes.size(), 1u);
    EXPECT_EQ(catcher.codes[0], 16);
    EXPECT_EQ(catcher.senders[0], emitter->QueryInterface(3));
    EXPECT_EQ(emitter->QueryInterface(0), emitter);
    EXPECT_EQ(emitter->QueryInterface(2), emitter);
    EXPECT_EQ(emitter->QueryInterface(1), nullptr);
    EXPECT_EQ(KEventEmitter::Unsubscribe(KEventEmitter::kEventId, &catcher, Catcher::Handler()), 0);
    KEventEmitter::Emit(nullptr, 16);
    EXPECT_EQ(catcher.codes.size(), 1u);
}

// In a child process: releasing the emitter is final for the whole process.
TEST(KEventEmitter, ReleaseIsFinal) {
    EXPECT_EXIT(
        {
            KEventEmitter* emitter = KEventEmitter::GetInstance();
            bool ok = emitter != nullptr;
            emitter->Release();
            ok = ok && KEventEmitter::GetInstance() == nullptr;
            KEventEmitter::Emit(nullptr, 15);  // nothing to reach: no effect
            ok = ok && KEventEmitter::Subscribe(KEventEmitter::kEventId, nullptr,
                                                Catcher::Handler()) == 1;
            exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

class TempFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mTemp.ok()); }
    std::string Make(const std::string& name) {
        std::string path = mFolder + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (f) fclose(f);
        return path;
    }
    TempTestFolder mTemp{"kevt"};
    std::string mFolder = mTemp.path();
};

TEST_F(TempFiles, ListenerReleasesOnCodeFifteen) {
    ASSERT_EQ(system(("mkdir '" + mFolder + "/only'").c_str()), 0);
    std::string lonely = Make("only/t.tmp");
    std::string kept = Make("kept.tmp");
    std::string other = Make("other.tmp");
    KEventListener& listener = KEventListener::GetInstance();
    EXPECT_EQ(listener.AddFile(lonely.c_str(), true), 0);
    EXPECT_EQ(listener.AddFile(kept.c_str(), true), 1);
    EXPECT_EQ(listener.AddFile(lonely.c_str(), false), 0);  // the existing record
    EXPECT_EQ(listener.GetFileCount(), 2);

    // With the keep flag (the default) the records go and the files stay.
    KEventEmitter::Emit(nullptr, KEventEmitter::kCodeReleaseTempFiles);
    EXPECT_EQ(listener.GetFileCount(), 0);
    EXPECT_TRUE(KPlatformPathExists(lonely.c_str()));

    listener.SetKeep(false);
    listener.AddFile(lonely.c_str(), true);
    listener.AddFile(kept.c_str(), true);
    KEventEmitter::Emit(nullptr, KEventEmitter::kCodeWriteFailed);
    EXPECT_EQ(listener.GetFileCount(), 2);
    KEventEmitter::Emit(nullptr, KEventEmitter::kCodeReleaseTempFiles);
    EXPECT_FALSE(KPlatformPathExists(lonely.c_str()));
    EXPECT_FALSE(KPlatformPathExists((mFolder + "/only").c_str()));  // left empty: removed
    EXPECT_FALSE(KPlatformPathExists(kept.c_str()));
    EXPECT_TRUE(KPlatformPathExists(other.c_str()));  // the folder still holds a file
    listener.SetKeep(true);
}

TEST_F(TempFiles, RecordNeverRemovesRootOrCurrentFolder) {
    {
        KTempFileRecord bare("no-such-file-here.tmp", true);
        KTempFileRecord root("/no-such-file-here.tmp", true);
        KTempFileRecord drive("C:\\no-such-file.tmp", true);
    }
    EXPECT_TRUE(KPlatformIsDirectory("/"));
    EXPECT_TRUE(KPlatformIsDirectory("."));
}

}  // namespace
