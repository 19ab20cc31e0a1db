/* figread: reads one BAC6 model file and answers queries about it.
 *
 * The library holds one model at a time. Call fnbacanalysis, then any query,
 * then fnbacrelease. Indexed queries raise std::out_of_range ("invalid
 * vector<T> subscript") for an index at or beyond their list and for every
 * negative index; bulk copies never raise. Texts returned stay valid until the
 * next analysis or release. Diagnostics go to standard error. */
#ifndef FIGREAD_H
#define FIGREAD_H

#ifdef __cplusplus
#define FIGREAD_EXTERN extern "C"
#else
#include <stdbool.h>
#define FIGREAD_EXTERN
#endif
#define FIGREAD_API FIGREAD_EXTERN __attribute__((visibility("default")))

/* Life cycle */
FIGREAD_API int fnbacanalysis(const char* path);
FIGREAD_API void fnbacrelease(void);

/* List lengths */
FIGREAD_API unsigned fnbacGetTextureNumber(void);
FIGREAD_API unsigned fnbacGetColorNumber(void);
FIGREAD_API unsigned fnbacGetMaterialNumber(void);
FIGREAD_API unsigned fnbacGetVertexNumber(void);
FIGREAD_API unsigned fnbacGetNormalNumber(void);
FIGREAD_API unsigned fnbacGetUvNumber(void);
FIGREAD_API unsigned fnbacGetPolygonNumber(void);
FIGREAD_API unsigned fnbacGetBoneNumber(void);

/* Textures and colours */
FIGREAD_API int fnbacGetTextureSizeX(int texture);
FIGREAD_API int fnbacGetTextureSizeY(int texture);
FIGREAD_API float fnbacGetColorR(int color);
FIGREAD_API float fnbacGetColorG(int color);
FIGREAD_API float fnbacGetColorB(int color);

/* Materials */
FIGREAD_API const char* fnbacGetMaterialName(int material);
FIGREAD_API const char* fnbacGetMaterialBlendMode(int material);
FIGREAD_API int fnbacGetMaterialBlendCode(int material);
FIGREAD_API bool fnbacGetMaterialDoubleFace(int material);
FIGREAD_API bool fnbacGetMaterialTransparent(int material);
FIGREAD_API bool fnbacGetMaterialLighting(int material);
FIGREAD_API int fnbacGetMaterialTexture(int material);
FIGREAD_API int fnbacGetMaterialColor(int material);
FIGREAD_API float fnbacGetMaterialAlpha(int material);
FIGREAD_API float fnbacGetMaterialSpecular(int material);
FIGREAD_API float fnbacGetMaterialShininess(int material);

/* Vertices, normals, texture coordinates */
FIGREAD_API void fnbacGetVertexValue(int vertex, float out[3]);
FIGREAD_API void fnbacGetVertexAllValue(float* out, unsigned count);
FIGREAD_API void fnbacGetNormalValue(int normal, float out[3]);
FIGREAD_API void fnbacGetNormalAllValue(float* out, unsigned count);
FIGREAD_API void fnbacGetUvValue(int pair, float out[2]);
FIGREAD_API void fnbacGetUvAllValue(float* out, unsigned count);

/* Polygons */
FIGREAD_API int fnbacGetPolygonMaterial(int polygon);
FIGREAD_API int fnbacGetPolygonVtxNumber(int polygon);
FIGREAD_API int fnbacGetPolygonVertex(int polygon, int out[4]);
FIGREAD_API int fnbacGetPolygonUv(int polygon, int out[4]);
FIGREAD_API int fnbacGetPolygonBone(int polygon);

/* Bones */
FIGREAD_API const char* fnbacGetBoneName(int bone);
FIGREAD_API int fnbacGetBone(const char* name);
FIGREAD_API int fnbacGetBoneIndex(int bone);
FIGREAD_API bool fnbacGetBoneChild(int bone);
FIGREAD_API bool fnbacGetBoneBrother(int bone);
FIGREAD_API void fnbacGetBonePosition(int bone, float out[3]);
FIGREAD_API void fnbacGetBoneRotation(int bone, float out[3]);
FIGREAD_API void fnbacGetBoneHandle(int bone, float out[3]);
FIGREAD_API unsigned fnbacGetBoneVertexNumber(int bone);
FIGREAD_API void fnbacGetBoneVertexAllValue(int bone, int* out, unsigned count);

/* Motors, from the tag at the end of a bone name */
FIGREAD_API int fnbacSetMotorNumber(void);
FIGREAD_API int fnbacGetMotorIndex(int bone);
FIGREAD_API int fnbacGetMotorGroup(int bone);
FIGREAD_API bool fnbacGetMotorRevers(int bone);

/* Constants: dynamic polygons are not served */
FIGREAD_API int fnbacGetDynamicPolygonNumber(void);
FIGREAD_API int fnbacGetDynamicPolygonMember(int group);
FIGREAD_API int fnbacGetDynamicPolygonVtxNumber(int group, int member);
FIGREAD_API int fnbacGetDynamicPolygonVertex(int group, int member, int out[]);
FIGREAD_API int fnbacGetDynamicPolygonUv(int group, int member, int out[]);
FIGREAD_API int fnbacGetDynamicPolygonBone(int group, int member);
FIGREAD_API int fnbacGetDynamicPolygonMaterialr(int group, int member);
FIGREAD_API int fnbacGetMajorsVersion(void);
FIGREAD_API int fnbacGetMinorVersion(void);

/* Template exports */
FIGREAD_API int fnfigread(void);
#ifdef __cplusplus
extern "C" __attribute__((visibility("default"))) int nfigread;
class __attribute__((visibility("default"))) Cfigread {
public:
    Cfigread();
    Cfigread& operator=(const Cfigread&);
};
#else
extern __attribute__((visibility("default"))) int nfigread;
#endif

#endif /* FIGREAD_H */
