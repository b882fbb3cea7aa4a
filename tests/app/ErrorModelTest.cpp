// One error model: every exception class of the program derives from EMMError, and every
// numbered message and result code has a text of its own.
#include "audio/MMCutLst.h"
#include "audio/MMWave.h"
#include "audio/MMWaveIO.h"
#include "db/FBDatabase.h"
#include "display/MMDIBCv.h"
#include "import/MMACMCvt.h"
#include "import/MMADCvt.h"
#include "import/MMAudio.h"
#include "import/MMMPEG.h"
#include "import/MMTrigg.h"
#include "platform/MMIO.h"
#include "tags/U_Funcoes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <type_traits>

namespace {

template <class... E>
constexpr bool allDeriveFromEMMError = (std::is_base_of_v<EMMError, E> && ...);
static_assert(allDeriveFromEMMError<EMMDSPError, EListError, EMMWaveError, EMMDIBError, EMMTriggerError,
                                    EMMConverterError, EMMMpegError, EMMAudioFileError, EMMADPCMError, EFBError,
                                    EConvertError>);

// Each code has a text, none is the fallback, and no two share one.
template <class Code, class TextOf>
void expectOwnTexts(std::initializer_list<Code> codes, TextOf textOf, const std::string& unknown) {
    std::set<std::string> seen;
    for (Code c : codes) {
        const std::string text = textOf(c);
        EXPECT_FALSE(text.empty()) << c;
        EXPECT_EQ(text.rfind(unknown, 0), std::string::npos) << c;
        EXPECT_TRUE(seen.insert(text).second) << c << ": " << text;
    }
}

TEST(ErrorModelTest, EveryResultCodeHasItsOwnText) {
    expectOwnTexts({WIOERR_NOERROR, WIOERR_NOFORMAT, WIOERR_BADRECORD, WIOERR_FILEERROR, WIOERR_NOMEM},
                   WaveIOErrorText, "Unknown");
    EXPECT_EQ(WaveIOErrorText(102), "Unknown wave I/O error 102");
    expectOwnTexts({MMSYSERR_NOERROR, MMSYSERR_INVALHANDLE, MMSYSERR_INVALPARAM, MMIOERR_FILENOTFOUND,
                    MMIOERR_OUTOFMEMORY, MMIOERR_CANNOTOPEN, MMIOERR_CANNOTCLOSE, MMIOERR_CANNOTREAD,
                    MMIOERR_CANNOTWRITE, MMIOERR_CANNOTSEEK, MMIOERR_CANNOTEXPAND, MMIOERR_CHUNKNOTFOUND,
                    MMIOERR_UNBUFFERED, MMIOERR_ACCESSDENIED, MMIOERR_INVALIDFILE},
                   MMIOErrorText, "Unknown");
    EXPECT_EQ(MMIOErrorText(MMIOERR_BASE + 11), "Unknown file I/O error 267");
}

}  // namespace
