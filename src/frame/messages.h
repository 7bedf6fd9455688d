/*
 * Every text the library records, as GBK (code page 936) bytes. The sources
 * stay ASCII, so each text is spelled in escapes with its Chinese beside it.
 */
#ifndef VESK_FRAME_MESSAGES_H
#define VESK_FRAME_MESSAGES_H

namespace vesk::msg {

inline constexpr char kOpenPortFailed[] = "\xB4\xF2\xBF\xAA\xB4\xAE\xBF\xDA%d\xCA\xA7\xB0\xDC";  // 打开串口%d失败
inline constexpr char kPortNotOpen[] = "\xB4\xAE\xBF\xDA%d\xCE\xB4\xB4\xF2\xBF\xAA";               // 串口%d未打开
inline constexpr char kReadSerialFailed[] =
    "\xB6\xC1\xC8\xA1\xBF\xA8\xD0\xF2\xC1\xD0\xBA\xC5\xCA\xA7\xB0\xDC";  // 读取卡序列号失败
inline constexpr char kNoCardInField[] =
    "\xB6\xC1\xBF\xA8\xC6\xF7\xB8\xD0\xD3\xA6\xC7\xF8\xC3\xBB\xD3\xD0\xBF\xA8";     // 读卡器感应区没有卡
inline constexpr char kSelectFailed[] = "\xD1\xA1\xBF\xA8\xCA\xA7\xB0\xDC!";         // 选卡失败!
inline constexpr char kLoadKeyFailed[] = "\xD7\xB0\xD4\xD8\xC3\xDC\xC2\xEB\xCA\xA7\xB0\xDC!";  // 装载密码失败!
inline constexpr char kAuthFailed[] = "\xD1\xE9\xD6\xA4\xC3\xDC\xD4\xBF\xCA\xA7\xB0\xDC!";     // 验证密钥失败!
inline constexpr char kReadFailed[] = "\xB6\xC1\xBF\xA8\xC4\xDA\xCA\xFD\xBE\xDD\xB4\xED!";     // 读卡内数据错!
inline constexpr char kHaltFailed[] = "\xD0\xDD\xC3\xDF\xCA\xA7\xB0\xDC!";                     // 休眠失败!
inline constexpr char kLoadLibraryFailed[] = "\xB6\xAF\xCC\xAC\xBF\xE2\xBC\xD3\xD4\xD8\xCA\xA7\xB0\xDC!";  // 动态库加载失败!

}  // namespace vesk::msg

#endif
