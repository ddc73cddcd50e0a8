#pragma once
// Motion files the benchmarks read, written on the spot.

#include <cmath>
#include <fstream>
#include <string>

// A BVH clip of `joints` joints in one chain, each turning about three axes, over `frames`
// frames at 120 per second; false when the file could not be written.
inline bool KBenchWriteBvh(const std::string& name, int joints, int frames) {
    std::ofstream out(name);
    out << "HIERARCHY\nROOT J0\n{\nOFFSET 0 0 0\nCHANNELS 6 Xposition Yposition Zposition "
           "Zrotation Xrotation Yrotation\n";
    for (int j = 1; j < joints; ++j)
        out << "JOINT J" << j << "\n{\nOFFSET 1 2 3\nCHANNELS 3 Zrotation Xrotation Yrotation\n";
    out << "End Site\n{\nOFFSET 0 0 1\n}\n";
    for (int j = 0; j < joints; ++j) out << "}\n";
    out << "MOTION\nFrames: " << frames << "\nFrame Time: 0.0083333\n";
    for (int f = 0; f < frames; ++f) {
        out << f * 0.1 << " 90.5 " << -f * 0.05;
        for (int j = 0; j < joints * 3; ++j)
            out << ' ' << std::fmod(f * 1.7 + j * 13.1, 360.0) - 180.0;
        out << '\n';
    }
    return bool(out);
}
