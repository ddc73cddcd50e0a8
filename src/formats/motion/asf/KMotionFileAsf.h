#pragma once
// The skeleton text file: units, a root, bones with direction, length, local axis frame and
// degrees of freedom, and the bone hierarchy, read into and written from a KQovAsfScene.

#include "formats/motion/KMotionFile.h"

class KQovAsfScene;
struct KQovNameTerms;
struct KAsfBone;

class KMotionFileAsf : public KMotionFile {
public:
    explicit KMotionFileAsf(bool report);

    // Fills `scene` from the whole file; `restructure` removes bones without channels.
    bool ReadSkeleton(KQovAsfScene& scene, bool restructure);
    void WriteSkeleton(const KQovAsfScene& scene);

    // The order code of an order word's table index: the letters name the axes in the order
    // they turn.
    static int OrderCode(int index);
    // 0 when `text` is the word "begin", 1 when "end" (any case), else -1: a hierarchy line
    // beginning with that word opens or closes the list rather than naming a parent.
    static int BlockWord(const char* text);
    // How the reader takes a bone's name back (KQovWrittenNames); `*parent` tells whether the
    // name begins a line of the hierarchy, as a parent's does.
    static KQovNameTerms NameTerms(const bool* parent);

private:
    bool AtSection() const;
    bool SkipToSection();
    bool ReadUnits(KQovAsfScene& scene);
    bool ReadRoot(KQovAsfScene& scene);
    bool ReadBoneData(KQovAsfScene& scene);
    bool ReadBone(KQovAsfScene& scene);
    bool ReadHierarchy(KQovAsfScene& scene);
    bool ReadChannels(KAsfBone& bone, bool root);
};
