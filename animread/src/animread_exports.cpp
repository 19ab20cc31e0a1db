// The ten exports: thin calls on the one reader the library holds.
#include "animread.h"
#include "tra4_reader.h"

namespace {
quenlo::tra4::Reader g_reader;
}

int fntraanalysis(const char* path) {
    return g_reader.Analyse(path);
}
unsigned fntraGetAnimeNumber(void) {
    return g_reader.KeyCount();
}
unsigned fntraGetBoneNumber(void) {
    return g_reader.BoneCount();
}
const char* fntraGetBoneName(int bone) {
    return g_reader.BoneName(bone);
}
bool fntraGetAnimeRevers(int bone) {
    return g_reader.Mirror(bone);
}
int fntraGetAnimeKeyValue(int key) {
    return g_reader.KeyTime(key);
}
void fntraGetRotateValue(int bone, int time, float out[3]) {
    g_reader.Rotate(bone, time, out);
}
void fntraGetTransValue(int bone, int time, float out[3]) {
    g_reader.Translate(bone, time, out);
}
float fntraGetRollValue(int bone, int time) {
    return g_reader.Roll(bone, time);
}
void fntrarelease(void) {
    g_reader.Release();
}
