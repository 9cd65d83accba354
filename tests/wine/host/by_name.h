/* The library as a host sees it that has only tivlink.dll: every export
 * reached through GetProcAddress, under the code names the scenarios use. */
#ifndef WINE_HOST_BY_NAME_H
#define WINE_HOST_BY_NAME_H

#include <stdint.h>

struct tiv_exports {
    int32_t(__cdecl* init_tiv3)(int32_t comnr, int32_t baud);
    void(__cdecl* exit_tiv3)(void);
    int32_t(__cdecl* tiv_frame_send)(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len);
    int32_t(__cdecl* set_serial)(uint32_t a, int32_t nphys_adr);
    int32_t(__cdecl* set_group)(uint32_t a, int32_t grp_adr);
    int32_t(__cdecl* firmware_reset)(uint32_t a);
    int32_t(__cdecl* load_e2_file)(const char* path);
    void*(__cdecl* download)(uint32_t a);
    int32_t(__cdecl* set_rgbx)(uint32_t a, uint32_t colour);
    int32_t(__cdecl* fade_rgbx)(uint32_t a, uint32_t colour, int32_t value);
    int32_t(__cdecl* xd_reset)(uint32_t a);
    int32_t(__cdecl* xd_prog)(uint32_t a, int32_t nr);
    uint8_t* e2_data;
    uint32_t* e2_adr;
    uint32_t* e2_len;
    volatile int32_t* e2_percent;
    volatile int32_t* e2_cmd;
};

extern struct tiv_exports tiv;

/* by_name.c fills the table and uses the member names as they are. */
#ifndef TIV_EXPORT_TABLE_ONLY
#define init_tiv3 tiv.init_tiv3
#define exit_tiv3 tiv.exit_tiv3
#define tiv_frame_send tiv.tiv_frame_send
#define set_serial tiv.set_serial
#define set_group tiv.set_group
#define firmware_reset tiv.firmware_reset
#define load_e2_file tiv.load_e2_file
#define download tiv.download
#define set_rgbx tiv.set_rgbx
#define fade_rgbx tiv.fade_rgbx
#define xd_reset tiv.xd_reset
#define xd_prog tiv.xd_prog
#define e2_data (tiv.e2_data)
#define e2_adr (*tiv.e2_adr)
#define e2_len (*tiv.e2_len)
#define e2_percent (*tiv.e2_percent)
#define e2_cmd (*tiv.e2_cmd)
#endif

#endif
