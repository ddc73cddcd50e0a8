// Loads a 3DS file with lib3ds and prints what it holds, one item a line, so tests can
// check the toolkit's records against an independent reader. With a frame number it
// prints instead each object node's matrix evaluated at that frame; with "points" after the
// frame, each object node's mesh vertices placed at that frame, and each camera's and light's
// place, view and colour (a file without nodes: its records'); with "world" after the frame (or
// frames A:B:S), every node's place in the world (times the master scale), its axes and its hide
// keys' frames.
// With "materials" it prints every field of each material that the 3DS reader and writer
// handle; with "lights", each light's multiplier and off flag; with "faces", each mesh face's
// points.
#include <lib3ds/camera.h>
#include <lib3ds/file.h>
#include <lib3ds/light.h>
#include <lib3ds/material.h>
#include <lib3ds/matrix.h>
#include <lib3ds/mesh.h>
#include <lib3ds/node.h>
#include <lib3ds/vector.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <class Key>
int CountKeys(Key* key) {
    int n = 0;
    for (; key; key = key->next) ++n;
    return n;
}

void PrintNodes(Lib3dsNode* node) {
    for (; node; node = node->next) {
        const Lib3dsNodeData& d = node->data;
        switch (node->type) {
            case LIB3DS_OBJECT_NODE:
                printf("node object %s %d %d %d %d %d\n", node->name,
                       CountKeys(d.object.pos_track.keyL), CountKeys(d.object.rot_track.keyL),
                       CountKeys(d.object.scl_track.keyL), CountKeys(d.object.morph_track.keyL),
                       CountKeys(d.object.hide_track.keyL));
                break;
            case LIB3DS_CAMERA_NODE:
                printf("node camera %s %d %d %d\n", node->name, CountKeys(d.camera.pos_track.keyL),
                       CountKeys(d.camera.fov_track.keyL), CountKeys(d.camera.roll_track.keyL));
                break;
            case LIB3DS_TARGET_NODE:
                printf("node target %s %d\n", node->name, CountKeys(d.target.pos_track.keyL));
                break;
            case LIB3DS_LIGHT_NODE:
                printf("node light %s %d %d\n", node->name, CountKeys(d.light.pos_track.keyL),
                       CountKeys(d.light.col_track.keyL));
                break;
            case LIB3DS_SPOT_NODE:
                printf("node spot %s %d\n", node->name, CountKeys(d.spot.pos_track.keyL));
                break;
            default:
                break;
        }
        PrintNodes(node->childs);
    }
}

void PrintMatrices(Lib3dsNode* node) {
    for (; node; node = node->next) {
        if (node->type == LIB3DS_OBJECT_NODE) {
            printf("matrix %s", node->name);
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 3; ++c) printf(" %.6f", double(node->matrix[r][c]));
            printf("\n");
        }
        PrintMatrices(node->childs);
    }
}

// Node matrix x translate(-pivot) x inverse mesh matrix x stored vertex: where lib3ds shows a
// mesh's vertices; and where it places each camera and light.
void PrintPoints(Lib3dsFile* file, Lib3dsNode* node) {
    for (; node; node = node->next) {
        Lib3dsMesh* mesh =
            node->type == LIB3DS_OBJECT_NODE ? lib3ds_file_mesh_by_name(file, node->name) : nullptr;
        if (mesh) {
            Lib3dsMatrix inverse, m;
            lib3ds_matrix_copy(inverse, mesh->matrix);
            lib3ds_matrix_inv(inverse);
            lib3ds_matrix_copy(m, node->matrix);
            const Lib3dsVector& pivot = node->data.object.pivot;
            lib3ds_matrix_translate_xyz(m, -pivot[0], -pivot[1], -pivot[2]);
            lib3ds_matrix_mult(m, inverse);
            for (unsigned i = 0; i < mesh->points; ++i) {
                Lib3dsVector p;
                lib3ds_vector_transform(p, m, mesh->pointL[i].pos);
                printf("point %s %.4f %.4f %.4f\n", node->name, double(p[0]), double(p[1]),
                       double(p[2]));
            }
        }
        if (node->type == LIB3DS_CAMERA_NODE || node->type == LIB3DS_LIGHT_NODE)
            printf("at %s %.4f %.4f %.4f\n", node->name, double(node->matrix[3][0]),
                   double(node->matrix[3][1]), double(node->matrix[3][2]));
        if (node->type == LIB3DS_CAMERA_NODE) {
            const Lib3dsNode* target =
                lib3ds_file_node_by_name(file, node->name, LIB3DS_TARGET_NODE);
            const Lib3dsCameraData& c = node->data.camera;
            printf("view %s %.4f %.4f %.4f %.4f %.4f\n", node->name,
                   target ? double(target->data.target.pos[0]) : 0.0,
                   target ? double(target->data.target.pos[1]) : 0.0,
                   target ? double(target->data.target.pos[2]) : 0.0, double(c.fov),
                   double(c.roll));
        }
        if (node->type == LIB3DS_LIGHT_NODE)
            printf("colour %s %.4f %.4f %.4f\n", node->name, double(node->data.light.col[0]),
                   double(node->data.light.col[1]), double(node->data.light.col[2]));
        PrintPoints(file, node->childs);
    }
}

void PrintWorld(Lib3dsNode* node, double scale, int frame = -1) {
    static const char* const kinds[] = {"?", "ambient", "object", "camera", "target", "light",
                                        "spot"};
    for (; node; node = node->next) {
        if (frame >= 0) printf("%d ", frame);
        printf("world %s %s", kinds[node->type <= 6 ? node->type : 0], node->name);
        if (node->type == LIB3DS_OBJECT_NODE && node->data.object.instance[0])
            printf(".%s", node->data.object.instance);
        for (int c = 0; c < 3; ++c) printf(" %.3f", double(node->matrix[3][c]) * scale);
        // Its axes on a lever of 10 units.
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) printf(" %.3f", double(node->matrix[r][c]) * 10);
        if (node->type == LIB3DS_OBJECT_NODE) {
            printf(" hide");
            for (Lib3dsBoolKey* k = node->data.object.hide_track.keyL; k; k = k->next)
                printf(" %d", int(k->tcb.frame));
        }
        printf("\n");
        PrintWorld(node->childs, scale, frame);
    }
}

// A file without key-frame nodes shows its records as they are: mesh vertices as stored,
// cameras and lights at their positions, in the same lines as above.
void PrintRecordPoints(Lib3dsFile* file) {
    for (Lib3dsMesh* m = file->meshes; m; m = m->next)
        for (unsigned i = 0; i < m->points; ++i)
            printf("point %s %.4f %.4f %.4f\n", m->name, double(m->pointL[i].pos[0]),
                   double(m->pointL[i].pos[1]), double(m->pointL[i].pos[2]));
    for (Lib3dsCamera* c = file->cameras; c; c = c->next) {
        printf("at %s %.4f %.4f %.4f\n", c->name, double(c->position[0]), double(c->position[1]),
               double(c->position[2]));
        printf("view %s %.4f %.4f %.4f %.4f %.4f\n", c->name, double(c->target[0]),
               double(c->target[1]), double(c->target[2]), double(c->fov), double(c->roll));
    }
    for (Lib3dsLight* l = file->lights; l; l = l->next) {
        printf("at %s %.4f %.4f %.4f\n", l->name, double(l->position[0]), double(l->position[1]),
               double(l->position[2]));
        printf("colour %s %.4f %.4f %.4f\n", l->name, double(l->color[0]), double(l->color[1]),
               double(l->color[2]));
    }
}

void PrintMap(const char* kind, const Lib3dsTextureMap& map) {
    if (map.name[0])
        printf(" %s %s %.4f %.4f %.4f %.4f %.4f %.4f %d", kind, map.name, double(map.percent),
               double(map.scale[0]), double(map.scale[1]), double(map.offset[0]),
               double(map.offset[1]), double(map.rotation), int(map.flags));
}

void PrintMaterials(Lib3dsFile* file) {
    for (Lib3dsMaterial* m = file->materials; m; m = m->next) {
        printf("material %s", m->name);
        for (const Lib3dsRgba* c : {&m->ambient, &m->diffuse, &m->specular})
            printf(" %.4f %.4f %.4f", double((*c)[0]), double((*c)[1]), double((*c)[2]));
        printf(" shininess %.4f %.4f transparency %.4f self %.4f two-sided %d",
               double(m->shininess), double(m->shin_strength), double(m->transparency),
               double(m->self_ilpct), int(m->two_sided));
        PrintMap("map1", m->texture1_map);
        PrintMap("map2", m->texture2_map);
        PrintMap("specular", m->specular_map);
        printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: lib3ds_counts FILE [FRAME [points | world] | materials | lights | "
                        "faces]\n");
        return 2;
    }
    Lib3dsFile* file = lib3ds_file_load(argv[1]);
    if (!file) {
        printf("unreadable\n");
        return 1;
    }
    if (argc == 3 && std::string(argv[2]) == "materials") {
        PrintMaterials(file);
        lib3ds_file_free(file);
        return 0;
    }
    if (argc == 3 && strcmp(argv[2], "lights") == 0) {
        for (Lib3dsLight* l = file->lights; l; l = l->next)
            printf("light %s multiplier %.4f off %d\n", l->name, double(l->multiplier),
                   l->off ? 1 : 0);
        lib3ds_file_free(file);
        return 0;
    }
    if (argc == 3 && strcmp(argv[2], "faces") == 0) {
        // Each face as its three points, in the face's own order.
        for (Lib3dsMesh* m = file->meshes; m; m = m->next)
            for (unsigned f = 0; f < m->faces; ++f) {
                printf("face %s", m->name);
                for (int k = 0; k < 3; ++k) {
                    const unsigned p = m->faceL[f].points[k];
                    for (int c = 0; c < 3; ++c)
                        printf(" %.9g", p < m->points ? double(m->pointL[p].pos[c]) : 0.0);
                }
                printf("\n");
            }
        lib3ds_file_free(file);
        return 0;
    }
    // "A:B:S world": the world places at frames A, A+S ... up to B, each line led by its frame.
    if (argc == 4 && std::string(argv[3]) == "world" && strchr(argv[2], ':')) {
        int first = 0, last = 0, step = 1;
        if (sscanf(argv[2], "%d:%d:%d", &first, &last, &step) != 3 || step <= 0) return 2;
        // Loaded anew for each frame: an evaluation leaves state behind in lib3ds's tracks.
        for (int frame = first; frame <= last && file; frame += step) {
            lib3ds_file_eval(file, Lib3dsFloat(frame));
            PrintWorld(file->nodes, file->master_scale > 0 ? double(file->master_scale) : 1.0,
                       frame);
            lib3ds_file_free(file);
            file = frame + step <= last ? lib3ds_file_load(argv[1]) : nullptr;
        }
        if (file) lib3ds_file_free(file);
        return 0;
    }
    if (argc >= 3) {
        lib3ds_file_eval(file, Lib3dsFloat(atof(argv[2])));
        if (argc == 4 && std::string(argv[3]) == "world")
            PrintWorld(file->nodes, file->master_scale > 0 ? double(file->master_scale) : 1.0);
        else if (argc == 4 && !file->nodes)
            PrintRecordPoints(file);
        else if (argc == 4)
            PrintPoints(file, file->nodes);
        else
            PrintMatrices(file->nodes);
        lib3ds_file_free(file);
        return 0;
    }
    for (Lib3dsMesh* m = file->meshes; m; m = m->next)
        printf("mesh %s %u %u %u\n", m->name, unsigned(m->points), unsigned(m->faces),
               unsigned(m->texels));
    for (Lib3dsMaterial* m = file->materials; m; m = m->next)
        printf("material %s %s %s\n", m->name, m->texture1_map.name[0] ? m->texture1_map.name : "-",
               m->texture2_map.name[0] ? m->texture2_map.name : "-");
    for (Lib3dsCamera* c = file->cameras; c; c = c->next) printf("camera %s\n", c->name);
    for (Lib3dsLight* l = file->lights; l; l = l->next)
        printf("light %s %d\n", l->name, l->spot_light ? 1 : 0);
    const Lib3dsSolid& solid = file->background.solid;
    if (solid.use)
        printf("background solid %.4f %.4f %.4f\n", double(solid.col[0]), double(solid.col[1]),
               double(solid.col[2]));
    // The key-frame length and the active segment, in frames.
    printf("keyframes %d %d %d\n", int(file->frames), int(file->segment_from),
           int(file->segment_to));
    PrintNodes(file->nodes);
    lib3ds_file_free(file);
    return 0;
}
