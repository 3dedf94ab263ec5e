/* Restores the packing pshpack2.h changed. */
#pragma pack(pop)
