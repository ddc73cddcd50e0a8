#pragma once
// Base of the options objects that travel between the importer or exporter and a reader or
// writer. Besides its subclasses' settings it carries the callbacks through which a reader
// or writer shows progress and asks or tells its caller something; without a callback
// installed nothing is shown and the default answer is given.

#include <functional>

#include "scene/KObject.h"

class KStreamOptions : public KObject {
    KQOV_CLASS(KStreamOptions)
public:
    // (kind, text or null, percent).
    using ProgressCallback = std::function<void(int, const char*, float)>;
    // (title, text, first button, second button or null, third button or null, default
    // answer) -> the answer, 1 standing for the first button.
    using AnswerCallback = std::function<int(const char*, const char*, const char*, const char*,
                                             const char*, int)>;

    KStreamOptions() = default;
    ~KStreamOptions() override = default;

    // Back to the values of a new object; subclasses call the base first. The callbacks stay.
    virtual void Reset() {}

    void SetProgressCallback(ProgressCallback callback) { mProgress = std::move(callback); }
    void SetQuestionCallback(AnswerCallback callback) { mQuestion = std::move(callback); }
    void SetMessageCallback(AnswerCallback callback) { mMessage = std::move(callback); }

    void Progress(int kind, const char* text, float percent) const;
    int Question(const char* title, const char* text, const char* first,
                 const char* second = nullptr, const char* third = nullptr,
                 int defaultAnswer = 1) const;
    int Message(const char* title, const char* text, const char* first,
                const char* second = nullptr, const char* third = nullptr,
                int defaultAnswer = 1) const;

private:
    ProgressCallback mProgress;
    AnswerCallback mQuestion;
    AnswerCallback mMessage;
};
