#pragma once
// Field files for the channel storage tests: written by the library or by hand, then read.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

using FieldFileStep = std::function<void(KQovFieldFile&)>;

inline void ThroughFile(bool binary, const FieldFileStep& write, const FieldFileStep& read) {
    qovtest::TempFolder tmp;
    std::string name = tmp / "channels.qov";
    {
        KQovFieldFile out;
        ASSERT_TRUE(out.Create(name.c_str(), binary, false, nullptr));
        write(out);
        ASSERT_TRUE(out.FieldFileClose());
    }
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    read(in);
}

// An ASCII file written by hand.
inline void ReadText(const std::string& body, const FieldFileStep& read) {
    qovtest::TempFolder tmp;
    std::string name = tmp / "hand.qov";
    qovtest::WriteAll(name, "; QOV 6.0.0 project file\n" + body);
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    read(in);
}

// The text of an ASCII file the write step made.
inline std::string WrittenText(const FieldFileStep& write) {
    qovtest::TempFolder tmp;
    std::string name = tmp / "written.qov";
    KQovFieldFile out;
    EXPECT_TRUE(out.Create(name.c_str(), false, false, nullptr));
    write(out);
    out.FieldFileClose();
    return qovtest::ReadAll(name);
}
