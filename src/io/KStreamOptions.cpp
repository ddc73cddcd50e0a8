#include "io/KStreamOptions.h"

void KStreamOptions::Progress(int kind, const char* text, float percent) const {
    if (mProgress) mProgress(kind, text, percent);
}

int KStreamOptions::Question(const char* title, const char* text, const char* first,
                             const char* second, const char* third, int defaultAnswer) const {
    return mQuestion ? mQuestion(title, text, first, second, third, defaultAnswer) : defaultAnswer;
}

int KStreamOptions::Message(const char* title, const char* text, const char* first,
                            const char* second, const char* third, int defaultAnswer) const {
    return mMessage ? mMessage(title, text, first, second, third, defaultAnswer) : defaultAnswer;
}
