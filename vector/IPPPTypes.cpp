// IPPPTypes: names of the status codes, for messages and reports.
#include "vector/IPPPTypes.h"

namespace nx {

const char* StatusName(IppStatus status) {
  switch (status) {
    case ippStsNoErr: return "ippStsNoErr";
    case ippStsSqrtNegArg: return "ippStsSqrtNegArg";
    case ippStsDivByZero: return "ippStsDivByZero";
    case ippStsLnZeroArg: return "ippStsLnZeroArg";
    case ippStsLnNegArg: return "ippStsLnNegArg";
    case ippStsNoIntersection: return "ippStsNoIntersection";
    case ippStsSizeErr: return "ippStsSizeErr";
    case ippStsNullPtrErr: return "ippStsNullPtrErr";
    case ippStsMemAllocErr: return "ippStsMemAllocErr";
    case ippStsDivByZeroErr: return "ippStsDivByZeroErr";
    case ippStsStepErr: return "ippStsStepErr";
    case ippStsFftOrderErr: return "ippStsFftOrderErr";
    case ippStsFftFlagErr: return "ippStsFftFlagErr";
    case ippStsContextMatchErr: return "ippStsContextMatchErr";
    case ippStsThreshNegLevelErr: return "ippStsThreshNegLevelErr";
    case ippStsMirrorFlipErr: return "ippStsMirrorFlipErr";
    case ippStsResizeFactorErr: return "ippStsResizeFactorErr";
    case ippStsIIROrderErr: return "ippStsIIROrderErr";
    case ippStsFIRLenErr: return "ippStsFIRLenErr";
    case ippStsShiftErr: return "ippStsShiftErr";
    case ippStsJaehneErr: return "ippStsJaehneErr";
    case ippStsAlphaTypeErr: return "ippStsAlphaTypeErr";
    case ippStsInterpolationErr: return "ippStsInterpolationErr";
    case ippStsLUTNofLevelsErr: return "ippStsLUTNofLevelsErr";
    default: return "unknown status";
  }
}

}  // namespace nx
