#pragma once

// The unit's sensor calibration record and its index. Shared with the unit's
// firmware; this program carries it as vocabulary and moves no calibration.

#include <cstddef>
#include <cstdint>

typedef struct {
    float x;
    float y;
    float z;
} Vec3_f_t;

// Accelerometer and gyroscope calibration, each part with its own checksum.
typedef struct {
    Vec3_f_t acc_offset;
    uint32_t acc_offset_crc;
    Vec3_f_t acc_scale;
    uint32_t acc_scale_crc;
    Vec3_f_t gyro_bias;
    uint32_t gyro_bias_crc;
} LSM_CAL_t;

// Magnetometer calibration: hard-iron vector and soft-iron matrix [row][column].
typedef struct {
    Vec3_f_t B_vector;
    uint32_t B_vector_crc;
    float A_matrix[3][3];
    uint32_t A_matrix_crc;
} MAG_CAL_t;

// Air data sensor zero offsets.
typedef struct {
    float pitot_offset;
    float static_offset;
    uint32_t crc;
} AUAV_CAL_t;

// Air data sensor compensation coefficients.
typedef struct {
    float LIN_A;
    float LIN_B;
    float LIN_C;
    float LIN_D;
    float Es;
    float TC50H;
    float TC50L;
    uint32_t crc;
} AUAV_Coefficients_t;

typedef struct {
    uint32_t magic;
    uint32_t version;
    LSM_CAL_t LSM_CAL;
    MAG_CAL_t MMC_INITIAL_CAL;
    MAG_CAL_t LIS_CAL;
    AUAV_CAL_t AUAV_CAL;
    AUAV_Coefficients_t pitot_coeff;
    AUAV_Coefficients_t static_coeff;
    uint32_t oat_cal_0deg;
    uint32_t oat_cal_100deg;
    uint32_t oat_crc;
    uint32_t crc32;
} SENSOR_CALIB_t;

static_assert(sizeof(Vec3_f_t) == 12, "Vec3_f_t is three floats");
static_assert(sizeof(LSM_CAL_t) == 48, "LSM_CAL_t is 48 bytes");
static_assert(offsetof(LSM_CAL_t, acc_offset_crc) == 12 && offsetof(LSM_CAL_t, acc_scale) == 16
                  && offsetof(LSM_CAL_t, acc_scale_crc) == 28 && offsetof(LSM_CAL_t, gyro_bias) == 32
                  && offsetof(LSM_CAL_t, gyro_bias_crc) == 44,
              "each LSM vector followed by its checksum");
static_assert(sizeof(MAG_CAL_t) == 56, "MAG_CAL_t is 56 bytes");
static_assert(offsetof(MAG_CAL_t, B_vector_crc) == 12 && offsetof(MAG_CAL_t, A_matrix) == 16
                  && offsetof(MAG_CAL_t, A_matrix_crc) == 52,
              "vector, its checksum, the 3x3 matrix row by row, its checksum");
static_assert(sizeof(AUAV_CAL_t) == 12, "AUAV_CAL_t is 12 bytes");
static_assert(sizeof(AUAV_Coefficients_t) == 32, "AUAV_Coefficients_t is 32 bytes");
static_assert(offsetof(AUAV_CAL_t, crc) == 8 && offsetof(AUAV_Coefficients_t, Es) == 16
                  && offsetof(AUAV_Coefficients_t, crc) == 28,
              "seven coefficients, then the checksum");
static_assert(sizeof(SENSOR_CALIB_t) == 260, "SENSOR_CALIB_t is 260 bytes");
static_assert(offsetof(SENSOR_CALIB_t, magic) == 0, "magic offset");
static_assert(offsetof(SENSOR_CALIB_t, version) == 4, "version offset");
static_assert(offsetof(SENSOR_CALIB_t, LSM_CAL) == 8, "LSM_CAL offset");
static_assert(offsetof(SENSOR_CALIB_t, MMC_INITIAL_CAL) == 56, "MMC_INITIAL_CAL offset");
static_assert(offsetof(SENSOR_CALIB_t, LIS_CAL) == 112, "LIS_CAL offset");
static_assert(offsetof(SENSOR_CALIB_t, AUAV_CAL) == 168, "AUAV_CAL offset");
static_assert(offsetof(SENSOR_CALIB_t, pitot_coeff) == 180, "pitot_coeff offset");
static_assert(offsetof(SENSOR_CALIB_t, static_coeff) == 212, "static_coeff offset");
static_assert(offsetof(SENSOR_CALIB_t, oat_cal_0deg) == 244, "oat_cal_0deg offset");
static_assert(offsetof(SENSOR_CALIB_t, oat_cal_100deg) == 248, "oat_cal_100deg offset");
static_assert(offsetof(SENSOR_CALIB_t, oat_crc) == 252, "oat_crc offset");
static_assert(offsetof(SENSOR_CALIB_t, crc32) == 256, "crc32 offset");

// Field order, except that a matrix name ending r_c addresses A_matrix[r][c],
// which walks each matrix column by column. The MMC_INSTALL values (27 to 40)
// belong to a record of the unit's that this one does not hold.
typedef enum : uint32_t {
    CALIB_VERSION_INDEX = 0,
    LSM_ACC_OFFSET_X_INDEX = 1,
    LSM_ACC_OFFSET_Y_INDEX = 2,
    LSM_ACC_OFFSET_Z_INDEX = 3,
    LSM_ACC_OFFSET_CHKSUM_INDEX = 4,
    LSM_ACC_SCALE_X_INDEX = 5,
    LSM_ACC_SCALE_Y_INDEX = 6,
    LSM_ACC_SCALE_Z_INDEX = 7,
    LSM_ACC_SCALE_CHKSUM_INDEX = 8,
    LSM_GYRO_BIAS_X_INDEX = 9,
    LSM_GYRO_BIAS_Y_INDEX = 10,
    LSM_GYRO_BIAS_Z_INDEX = 11,
    LSM_GYRO_BIAS_CHKSUM_INDEX = 12,
    MMC_INITIAL_B_VECTOR_0_INDEX = 13,
    MMC_INITIAL_B_VECTOR_1_INDEX = 14,
    MMC_INITIAL_B_VECTOR_2_INDEX = 15,
    MMC_INITIAL_B_VECTOR_CHK_INDEX = 16,
    MMC_INITIAL_A_MATRIX_0_0_index = 17,
    MMC_INITIAL_A_MATRIX_1_0_index = 18,
    MMC_INITIAL_A_MATRIX_2_0_index = 19,
    MMC_INITIAL_A_MATRIX_0_1_index = 20,
    MMC_INITIAL_A_MATRIX_1_1_index = 21,
    MMC_INITIAL_A_MATRIX_2_1_index = 22,
    MMC_INITIAL_A_MATRIX_0_2_index = 23,
    MMC_INITIAL_A_MATRIX_1_2_index = 24,
    MMC_INITIAL_A_MATRIX_2_2_index = 25,
    MMC_INITIAL_A_MATRIX_CHK_INDEX = 26,
    MMC_INSTALL_B_VECTOR_0_INDEX = 27,
    MMC_INSTALL_B_VECTOR_1_INDEX = 28,
    MMC_INSTALL_B_VECTOR_2_INDEX = 29,
    MMC_INSTALL_B_VECTOR_CHK_INDEX = 30,
    MMC_INSTALL_A_MATRIX_0_0_index = 31,
    MMC_INSTALL_A_MATRIX_1_0_index = 32,
    MMC_INSTALL_A_MATRIX_2_0_index = 33,
    MMC_INSTALL_A_MATRIX_0_1_index = 34,
    MMC_INSTALL_A_MATRIX_1_1_index = 35,
    MMC_INSTALL_A_MATRIX_2_1_index = 36,
    MMC_INSTALL_A_MATRIX_0_2_index = 37,
    MMC_INSTALL_A_MATRIX_1_2_index = 38,
    MMC_INSTALL_A_MATRIX_2_2_index = 39,
    MMC_INSTALL_A_MATRIX_CHK_INDEX = 40,
    LIS_MAG_OFFSET_X_INDEX = 41,
    LIS_MAG_OFFSET_Y_INDEX = 42,
    LIS_MAG_OFFSET_Z_INDEX = 43,
    LIS_MAG_OFFSET_CHKSUM_INDEX = 44,
    LIS_MAG_BIAS_0_0_index = 45,
    LIS_MAG_BIAS_1_0_index = 46,
    LIS_MAG_BIAS_2_0_index = 47,
    LIS_MAG_BIAS_0_1_index = 48,
    LIS_MAG_BIAS_1_1_index = 49,
    LIS_MAG_BIAS_2_1_index = 50,
    LIS_MAG_BIAS_0_2_index = 51,
    LIS_MAG_BIAS_1_2_index = 52,
    LIS_MAG_BIAS_2_2_index = 53,
    LIS_MAG_BIAS_CHKSUM1_INDEX = 54,
    AUAV_PITOT_OFFSET_INDEX = 55,
    AUAV_STATIC_OFFSET_INDEX = 56,
    AUAV_OFFSET_CAL_CRC = 57,
    AUAV_PT_LIN_A = 58,
    AUAV_PT_LIN_B = 59,
    AUAV_PT_LIN_C = 60,
    AUAV_PT_LIN_D = 61,
    AUAV_PT_Es = 62,
    AUAV_PT_TC50H = 63,
    AUAV_PT_TC50L = 64,
    AUAV_PT_CRC = 65,
    AUAV_ST_LIN_A = 66,
    AUAV_ST_LIN_B = 67,
    AUAV_ST_LIN_C = 68,
    AUAV_ST_LIN_D = 69,
    AUAV_ST_Es = 70,
    AUAV_ST_TC50H = 71,
    AUAV_ST_TC50L = 72,
    AUAV_ST_CRC = 73,
    OAT_0DEG_INDEX = 74,
    OAT_100DEG_INDEX = 75,
    OAT_CRC_INDEX = 76,

    CALIB_MAGIC_NUM = 254,
    CALIB_CRC_INDEX = 255,
} sensor_calib_struct_index;
