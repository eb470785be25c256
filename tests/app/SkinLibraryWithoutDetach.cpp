// A skin engine library that exports SkinH_AttachEx only.
extern "C" __attribute__((visibility("default"))) int SkinH_AttachEx(const char*, const char*) {
    return 1;
}
