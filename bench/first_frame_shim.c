// Preloaded into the unchanged varnolt (or the bare-window anchor) by the start-up and
// frame-period benchmarks, so they time the program's own path without the program reading a
// command line or an environment. It timestamps every return of SDL_GL_SwapWindow with
// CLOCK_MONOTONIC and, after the number of frames asked for, writes what it saw and ends the
// process on the spot.
//
// Settings, read from the environment by this library only:
//   VARNOLT_SHIM_OUT     file the timestamps are written to (required; nothing is timed without)
//   VARNOLT_SHIM_FRAMES  frames to present before exiting (default 1: the first frame)
//   VARNOLT_SHIM_TRACE   when set, also timestamp the stages of loading a picture: fopen of a
//                        picture file, the libjpeg calls, glGenTextures and glTexImage2D, and
//                        SDL's start-up calls, the frame's pause (nanosleep) and the start of
//                        each present; each with the process's minor page-fault count, which
//                        tells fresh memory apart from slow code
//
// Output: one "event nanoseconds faults" line per timestamp, in the order they happened (faults
// is 0 when not tracing).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <jpeglib.h>

#include <GL/gl.h>
#include <SDL.h>

enum { kMaxEvents = 1 << 16 };

struct Event {
    const char* name;
    int64_t ns;
    long faults;
};

static struct Event g_events[kMaxEvents];
static int g_eventCount = 0;
static long g_framesWanted = 1;
static long g_framesSeen = 0;
static int g_trace = 0;
static const char* g_outPath = NULL;

static int64_t Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static void Record(const char* name) {
    if (g_eventCount < kMaxEvents) {
        long faults = 0;
        if (g_trace) {
            struct rusage usage;
            getrusage(RUSAGE_SELF, &usage);
            faults = usage.ru_minflt;
        }
        g_events[g_eventCount].name = name;
        g_events[g_eventCount].ns = Now();
        g_events[g_eventCount].faults = faults;
        ++g_eventCount;
    }
}

static void* Next(const char* symbol) {
    void* found = dlsym(RTLD_NEXT, symbol);
    if (found == NULL) {
        static const char message[] = "first_frame_shim: a symbol is missing\n";
        (void)!write(2, message, sizeof message - 1);
        _exit(111);
    }
    return found;
}

// Writes the events and ends the process without running exit handlers or destructors: the
// benchmark has what it measures, and tearing the scene down is not part of it.
static void Finish(void) {
    int fd = open(g_outPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        char line[128];
        for (int i = 0; i < g_eventCount; ++i) {
            int length = snprintf(line, sizeof line, "%s %lld %ld\n", g_events[i].name,
                                  (long long)g_events[i].ns, g_events[i].faults);
            (void)!write(fd, line, (size_t)length);
        }
        close(fd);
    }
    _exit(fd >= 0 ? 0 : 112);
}

__attribute__((constructor)) static void Start(void) {
    g_outPath = getenv("VARNOLT_SHIM_OUT");
    const char* frames = getenv("VARNOLT_SHIM_FRAMES");
    if (frames != NULL && atol(frames) > 0) {
        g_framesWanted = atol(frames);
    }
    g_trace = getenv("VARNOLT_SHIM_TRACE") != NULL;
    Record("loaded");
}

void SDL_GL_SwapWindow(SDL_Window* window) {
    static void (*real)(SDL_Window*) = NULL;
    if (real == NULL) {
        real = (void (*)(SDL_Window*))Next("SDL_GL_SwapWindow");
    }
    if (g_trace) Record("swap_begin");
    real(window);
    Record("swap");
    if (g_outPath != NULL && ++g_framesSeen >= g_framesWanted) {
        Finish();
    }
}

// The stages below are only timestamped when tracing; otherwise they pass straight through.

int SDL_Init(Uint32 flags) {
    static int (*real)(Uint32) = NULL;
    if (real == NULL) real = (int (*)(Uint32))Next("SDL_Init");
    int result = real(flags);
    if (g_trace) Record("sdl_init");
    return result;
}

SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int w, int h, Uint32 flags) {
    static SDL_Window* (*real)(const char*, int, int, int, int, Uint32) = NULL;
    if (real == NULL) {
        real = (SDL_Window * (*)(const char*, int, int, int, int, Uint32)) Next("SDL_CreateWindow");
    }
    SDL_Window* result = real(title, x, y, w, h, flags);
    if (g_trace) Record("window");
    return result;
}

SDL_GLContext SDL_GL_CreateContext(SDL_Window* window) {
    static SDL_GLContext (*real)(SDL_Window*) = NULL;
    if (real == NULL) real = (SDL_GLContext(*)(SDL_Window*))Next("SDL_GL_CreateContext");
    SDL_GLContext result = real(window);
    if (g_trace) Record("context");
    return result;
}

void SDL_ShowWindow(SDL_Window* window) {
    static void (*real)(SDL_Window*) = NULL;
    if (real == NULL) real = (void (*)(SDL_Window*))Next("SDL_ShowWindow");
    if (g_trace) Record("show_begin");
    real(window);
    if (g_trace) Record("show_end");
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
    static int (*real)(const struct timespec*, struct timespec*) = NULL;
    if (real == NULL) {
        real = (int (*)(const struct timespec*, struct timespec*))Next("nanosleep");
    }
    if (g_trace) Record("sleep_begin");
    int result = real(request, remaining);
    if (g_trace) Record("sleep_end");
    return result;
}

FILE* fopen(const char* path, const char* mode) {
    static FILE* (*real)(const char*, const char*) = NULL;
    if (real == NULL) real = (FILE * (*)(const char*, const char*)) Next("fopen");
    if (g_trace && path != NULL) {
        const char* base = strrchr(path, '/');
        base = base != NULL ? base + 1 : path;
        if (strncmp(base, "picture", 7) == 0) Record("file_open");
    }
    return real(path, mode);
}

int jpeg_read_header(j_decompress_ptr info, boolean requireImage) {
    static int (*real)(j_decompress_ptr, boolean) = NULL;
    if (real == NULL) real = (int (*)(j_decompress_ptr, boolean))Next("jpeg_read_header");
    if (g_trace) Record("jpeg_header");
    return real(info, requireImage);
}

boolean jpeg_start_decompress(j_decompress_ptr info) {
    static boolean (*real)(j_decompress_ptr) = NULL;
    if (real == NULL) real = (boolean(*)(j_decompress_ptr))Next("jpeg_start_decompress");
    if (g_trace) Record("decode_begin");
    return real(info);
}

JDIMENSION jpeg_read_scanlines(j_decompress_ptr info, JSAMPARRAY rows, JDIMENSION count) {
    static JDIMENSION (*real)(j_decompress_ptr, JSAMPARRAY, JDIMENSION) = NULL;
    if (real == NULL) {
        real = (JDIMENSION(*)(j_decompress_ptr, JSAMPARRAY, JDIMENSION))Next("jpeg_read_scanlines");
    }
    JDIMENSION result = real(info, rows, count);
    if (g_trace && info->output_scanline >= info->output_height) Record("decode_end");
    return result;
}

void jpeg_destroy_decompress(j_decompress_ptr info) {
    static void (*real)(j_decompress_ptr) = NULL;
    if (real == NULL) real = (void (*)(j_decompress_ptr))Next("jpeg_destroy_decompress");
    if (g_trace) Record("jpeg_destroy");
    real(info);
}

void glGenTextures(GLsizei n, GLuint* names) {
    static void (*real)(GLsizei, GLuint*) = NULL;
    if (real == NULL) real = (void (*)(GLsizei, GLuint*))Next("glGenTextures");
    if (g_trace) Record("gen_textures");
    real(n, names);
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const void* pixels) {
    static void (*real)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                        const void*) = NULL;
    if (real == NULL) {
        real = (void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                         const void*))Next("glTexImage2D");
    }
    if (g_trace) Record("upload_begin");
    real(target, level, internalFormat, width, height, border, format, type, pixels);
    if (g_trace) Record("upload_end");
}
