/* EDFlib is not built for MinGW here: playback of recordings reports the
   library as unavailable for this architecture. */
#include <edflib.h>

int edfopen_file_readonly(const char* path, struct edf_hdr_struct* edfhdr, int read_annotations) {
    (void)path;
    (void)read_annotations;
    if (edfhdr) edfhdr->filetype = EDFLIB_ARCH_ERROR;
    return -1;
}

int edfread_physical_samples(int handle, int edfsignal, int n, double* buf) {
    (void)handle;
    (void)edfsignal;
    (void)n;
    (void)buf;
    return -1;
}

int edfclose_file(int handle) {
    (void)handle;
    return -1;
}

int edf_get_annotation(int handle, int n, struct edf_annotation_struct* annot) {
    (void)handle;
    (void)n;
    (void)annot;
    return -1;
}
