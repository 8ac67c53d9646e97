#include "viewer/viewcodes.h"

namespace velmora {

const char* ViewResultText(int result) {
    switch (result) {
        case vrConnecting:
            return "연결 중...";
        case vrConnected:
            return "와 연결되었습니다.";
        case vrRefused:
            return "사용자수를 초과했습니다.";
        case vrNoAnswer:
            return "원격지에 연결할 수 없습니다.(응답없음)";
        case vrEnded:
            return "연결이 종료되었습니다.";
        default:
            return "원격지에 연결할 수 없습니다.";
    }
}

const char* DispatchCodeName(int code) {
    switch (code) {
        case vwApplied:
            return "applied";
        case vwIgnored:
            return "ignored";
        case vwBadLength:
            return "bad length";
        case vwBadDepth:
            return "other depth";
        case vwBadStream:
            return "bad stream";
        case vwBadBlock:
            return "bad block";
        case vwBadShape:
            return "bad pointer shape";
        case vwBadScreen:
            return "bad screen description";
        case vwNoMemory:
            return "out of memory";
        default:
            return "unknown";
    }
}

}  // namespace velmora
