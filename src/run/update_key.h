#pragma once

// The publisher's ECDSA P-256 public key, compiled into the executable (the build's
// QORVATH_UPDATE_KEY). Present, the build is a signed-updates build: it installs only
// what the publisher's signed list names, with the size and digest it gives. Defined
// per executable, by a source file the build generates.
struct UpdateKey {
    bool present;
    unsigned char point[64]; // X, then Y, big-endian
};
extern const UpdateKey updateKey;
