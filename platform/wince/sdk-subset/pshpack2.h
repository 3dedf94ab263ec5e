/* Packs records on 2-byte boundaries until poppack.h. */
#pragma pack(push, 2)
