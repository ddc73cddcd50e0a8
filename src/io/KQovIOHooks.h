#pragma once
// Progress notifications of reads and writes, for a host that shows them. The default
// instance does nothing; a host installs its own subclass.

class KQovIOHooks {
public:
    virtual ~KQovIOHooks() = default;
    // The installed hooks, or the do-nothing default.
    static KQovIOHooks& GetInstance();
    // Installs `hooks` (not owned); null puts the default back.
    static void SetInstance(KQovIOHooks* hooks);

    virtual void BeginReadWrite() {}
    virtual void SetStepCount(int) {}
    virtual void StepDone() {}
    virtual void EndProgress() {}
    virtual void EndReadWrite() {}
};
