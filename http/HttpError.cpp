#include "http/HttpError.h"

namespace velmora {

const char* HttpErrorText(HttpError error) {
    switch (error) {
        case HttpError::kNone:
            return "成功";
        case HttpError::kNotOpen:
            return "网络连接未打开";
        case HttpError::kInvalidRequest:
            return "网址无效";
        case HttpError::kHostNotResolved:
            return "找不到该主机名";
        case HttpError::kConnectionRefused:
            return "对方拒绝连接";
        case HttpError::kNoRoute:
            return "网络不通";
        case HttpError::kConnectTimeout:
            return "连接超时";
        case HttpError::kTlsFailure:
            return "安全连接失败";
        case HttpError::kTimeout:
            return "等待响应超时";
        case HttpError::kConnectionLost:
            return "连接中断";
        case HttpError::kBadResponse:
            return "网站的回应无法识别";
        case HttpError::kStopped:
            return "已停止";
    }
    return "未知错误";
}

bool IsConnectFailure(HttpError error) {
    switch (error) {
        case HttpError::kInvalidRequest:
        case HttpError::kHostNotResolved:
        case HttpError::kConnectionRefused:
        case HttpError::kNoRoute:
        case HttpError::kConnectTimeout:
        case HttpError::kTlsFailure:
            return true;
        default:
            return false;
    }
}

}  // namespace velmora
