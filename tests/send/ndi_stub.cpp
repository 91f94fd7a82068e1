// A stand-in NDI runtime for the loader's tests: exports the functions the program calls, or,
// built with NDI_STUB_PARTIAL, all but the video send.
extern "C" {

__attribute__((visibility("default"))) bool NDIlib_initialize()
{
    return true;
}

__attribute__((visibility("default"))) void *NDIlib_send_create(const void *)
{
    return nullptr;
}

#ifndef NDI_STUB_PARTIAL
__attribute__((visibility("default"))) void NDIlib_send_send_video_v2(void *, const void *) {}
#endif
}
