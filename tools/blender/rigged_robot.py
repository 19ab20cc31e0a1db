# rigged_robot.py: builds a small rigged robot in Blender and exports it as a
# binary glTF, the way a robot builder would: one bone per servo named with its
# motor tag, rigid vertex groups, and two short actions.
#
#   blender -b --factory-startup --python tools/blender/rigged_robot.py -- OUT.glb
#
# (the build's target blender_robot rewrites tests/gltf/data/blender_robot.glb)
#
# The robot faces +X (Blender and glTF alike); its right side is Blender's -Y
# (glTF's +Z). The arms hang straight down; each arm bone's local +Z (its
# handle) points forward, +X, so a positive rotation about the bone's local X
# swings the arm forward.
#   swing: frames 0, 10, 20: both shoulders 0, +40, 0 degrees forward
#   reach: frames 0, 10: the right elbow 0, -60 degrees (backward)
# Blender writes the animations in name order (reach, swing) and samples every
# frame: 11 and 21 keys. At 25 frames per second, frame 10 is at 0.4 s. After import the right
# shoulder (ID-01) stands at 8685 at 0.4 s of swing, the right elbow (ID-03) at
# 5722 at 0.4 s of reach.
import math
import sys

import bpy
from mathutils import Vector

out = sys.argv[sys.argv.index("--") + 1]

bpy.ops.wm.read_factory_settings(use_empty=True)
scene = bpy.context.scene
scene.render.fps = 25
scene.frame_start = 0
scene.frame_end = 20

# Bones: name, head, tail, parent, connected. Metres.
BONES = [
    ("body", (0, 0, 0.10), (0, 0, 0.24), None),
    ("head(ID-00)", (0, 0, 0.25), (0, 0, 0.30), "body"),
    ("r_shoulder(ID-01)", (0, -0.07, 0.23), (0, -0.07, 0.16), "body"),
    ("r_elbow(ID-03)", (0, -0.07, 0.16), (0, -0.07, 0.09), "r_shoulder(ID-01)"),
    ("l_shoulder(OD-01R)", (0, 0.07, 0.23), (0, 0.07, 0.16), "body"),
    ("l_elbow(OD-03R)", (0, 0.07, 0.16), (0, 0.07, 0.09), "l_shoulder(OD-01R)"),
]

arm_data = bpy.data.armatures.new("robot_rig")
rig = bpy.data.objects.new("robot_rig", arm_data)
scene.collection.objects.link(rig)
bpy.context.view_layer.objects.active = rig
bpy.ops.object.mode_set(mode="EDIT")
for name, head, tail, parent in BONES:
    eb = arm_data.edit_bones.new(name)
    eb.head = Vector(head)
    eb.tail = Vector(tail)
    # The handle (local +Z) forward for every bone; the body's points forward too.
    eb.align_roll(Vector((1, 0, 0)))
    if parent:
        eb.parent = arm_data.edit_bones[parent]
bpy.ops.object.mode_set(mode="OBJECT")

# One box per bone, around it, wholly in the bone's vertex group.
BOXES = {
    "body": ((-0.03, -0.05, 0.10), (0.03, 0.05, 0.24), 0),
    "head(ID-00)": ((-0.03, -0.03, 0.25), (0.03, 0.03, 0.30), 1),
    "r_shoulder(ID-01)": ((-0.012, -0.082, 0.165), (0.012, -0.058, 0.235), 1),
    "r_elbow(ID-03)": ((-0.011, -0.081, 0.09), (0.011, -0.059, 0.16), 0),
    "l_shoulder(OD-01R)": ((-0.012, 0.058, 0.165), (0.012, 0.082, 0.235), 1),
    "l_elbow(OD-03R)": ((-0.011, 0.059, 0.09), (0.011, 0.081, 0.16), 0),
}
verts, faces, groups, face_mats = [], [], [], []
for name, (lo, hi, mat) in BOXES.items():
    base = len(verts)
    for i in range(8):
        verts.append((hi[0] if i & 1 else lo[0], hi[1] if i & 2 else lo[1], hi[2] if i & 4 else lo[2]))
    for f in ((0, 2, 3, 1), (4, 5, 7, 6), (0, 1, 5, 4), (2, 6, 7, 3), (0, 4, 6, 2), (1, 3, 7, 5)):
        faces.append(tuple(base + i for i in f))
        face_mats.append(mat)
    groups.append((name, list(range(base, base + 8))))

mesh = bpy.data.meshes.new("robot_mesh")
mesh.from_pydata(verts, [], faces)
mesh.update()
body = bpy.data.objects.new("robot_mesh", mesh)
scene.collection.objects.link(body)
for name, colour in (("frame", (0.75, 0.75, 0.78, 1)), ("armor", (0.15, 0.35, 0.85, 1))):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    m.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = colour
    mesh.materials.append(m)
for poly, mat in zip(mesh.polygons, face_mats):
    poly.material_index = mat
for name, members in groups:
    body.vertex_groups.new(name=name).add(members, 1.0, "REPLACE")
body.parent = rig
body.modifiers.new("rig", "ARMATURE").object = rig

# The actions, each kept on its own NLA track so that each exports as one
# animation named after it.
rig.animation_data_create()
KEYS = {
    "swing": {"r_shoulder(ID-01)": [(0, 0), (10, 40), (20, 0)],
              "l_shoulder(OD-01R)": [(0, 0), (10, 40), (20, 0)]},
    "reach": {"r_elbow(ID-03)": [(0, 0), (10, -60)]},
}
for action_name, bones in KEYS.items():
    action = bpy.data.actions.new(action_name)
    rig.animation_data.action = action
    for bone_name, keys in bones.items():
        pb = rig.pose.bones[bone_name]
        pb.rotation_mode = "XYZ"
        for frame, degrees in keys:
            pb.rotation_euler = (math.radians(degrees), 0, 0)
            pb.keyframe_insert("rotation_euler", frame=frame)
    for fc in action.fcurves:
        for kp in fc.keyframe_points:
            kp.interpolation = "LINEAR"
    track = rig.animation_data.nla_tracks.new()
    track.name = action_name
    track.strips.new(action_name, 0, action)
    rig.animation_data.action = None
for pb in rig.pose.bones:
    pb.rotation_euler = (0, 0, 0)

bpy.ops.export_scene.gltf(filepath=out, export_format="GLB", export_animations=True)
