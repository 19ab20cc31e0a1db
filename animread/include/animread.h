/* animread: reads one TRA4 motion file and answers queries about it.
 *
 * The library holds one motion at a time: each fntraanalysis replaces the
 * previous one, fntrarelease frees it. Bone indices run from 0 to
 * fntraGetBoneNumber() - 1; key times are those fntraGetAnimeKeyValue answers.
 * Errors go to standard error, one line each with the file's line number. */
#ifndef ANIMREAD_H
#define ANIMREAD_H

#ifdef __cplusplus
#define ANIMREAD_API extern "C" __attribute__((visibility("default")))
#else
#include <stdbool.h>
#define ANIMREAD_API __attribute__((visibility("default")))
#endif

ANIMREAD_API int fntraanalysis(const char* path);
ANIMREAD_API unsigned fntraGetAnimeNumber(void);
ANIMREAD_API unsigned fntraGetBoneNumber(void);
ANIMREAD_API const char* fntraGetBoneName(int bone);
ANIMREAD_API bool fntraGetAnimeRevers(int bone);
ANIMREAD_API int fntraGetAnimeKeyValue(int key);
ANIMREAD_API void fntraGetRotateValue(int bone, int time, float out[3]);
ANIMREAD_API void fntraGetTransValue(int bone, int time, float out[3]);
ANIMREAD_API float fntraGetRollValue(int bone, int time);
ANIMREAD_API void fntrarelease(void);

#endif /* ANIMREAD_H */
