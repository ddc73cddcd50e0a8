#include <gtest/gtest.h>

#include <memory>

#include "scene/KQovTakeInfo.h"
#include "scene/KQovThumbnail.h"

namespace {

TEST(KQovTakeInfo, CopiesShareTheThumbnailAndCopyValuesKeepsItsOwn) {
    KQovTakeInfo fresh;
    EXPECT_TRUE(fresh.select && fresh.offsetGiven);
    EXPECT_EQ(fresh.offset, KTime(0));
    EXPECT_EQ(fresh.GetTakeThumbnail(), nullptr);

    auto shared = std::make_unique<KQovThumbnail>();
    KQovThumbnail own;
    KQovTakeInfo target;
    target.thumbnail = &own;
    {
        KQovTakeInfo source;
        source.name = source.secondName = "Take 001";
        source.comment = "walk";
        source.select = source.offsetGiven = false;
        source.localTimeSpan.Set(KTime(1), KTime(2));
        source.referenceTimeSpan.Set(KTime(-3), KTime(4));
        source.offset = KTime(5);
        source.thumbnail = shared.get();

        KQovTakeInfo copy = source;
        EXPECT_EQ(copy.GetTakeThumbnail(), shared.get());
        EXPECT_EQ(copy.offset, KTime(5));
        EXPECT_FALSE(copy.offsetGiven);

        target.CopyValues(source);
        EXPECT_EQ(target.secondName, "Take 001");
        EXPECT_EQ(target.comment, "walk");
        EXPECT_FALSE(target.select);
        EXPECT_EQ(target.referenceTimeSpan, KTimeSpan(KTime(-3), KTime(4)));
        EXPECT_EQ(target.GetTakeThumbnail(), &own);
        EXPECT_EQ(target.offset, KTime(0));
        EXPECT_TRUE(target.offsetGiven);
    }
    shared->SetSize(64);  // records never delete their thumbnail (ASan)
    EXPECT_EQ(shared->GetSizeInBytes(), 12288);
}

}  // namespace
