#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "args/Argument.h"
#include "args/ArgumentLoader.h"

namespace lumetra {
namespace {

using Messages = std::vector<std::string>;

// Builds a loader from the program name "prog" followed by `words`, as main would.
ArgumentLoader loaderFor(std::vector<std::string> words) {
    words.insert(words.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return ArgumentLoader(static_cast<int>(words.size()), argv.data());
}

// The usual patterns: -i takes one sub-argument and must appear, -v takes none and may.
ArgumentLoader loaderWithInputAndVerbose(std::vector<std::string> words) {
    ArgumentLoader loader = loaderFor(std::move(words));
    loader.addPattern("i", 1, true);
    loader.addPattern("v", 0, false);
    return loader;
}

const std::string kMissingInput = "Compulsory Argument Pattern DOES NOT EXIST within loader [i]";

TEST(Argument, ConstructionAndFlags) {
    const Argument none;
    EXPECT_EQ(none.getArgToken(), "");
    EXPECT_EQ(none.getexpfectedSubArgCount(), 0);
    EXPECT_FALSE(none.isCompulsory());
    EXPECT_FALSE(none.isInitiated());
    EXPECT_EQ(none.getSubArgCount(), 0);
    EXPECT_TRUE(none.isValid());

    Argument size("size", 2, true);
    EXPECT_EQ(size.getArgToken(), "size");
    EXPECT_EQ(size.getexpfectedSubArgCount(), 2);
    EXPECT_TRUE(size.isCompulsory());
    EXPECT_TRUE(size.setInitiated());
    EXPECT_TRUE(size.isInitiated());
    EXPECT_TRUE(size.addSubArg("640"));
    EXPECT_FALSE(size.isValid());
    size.addSubArg("480");
    EXPECT_TRUE(size.isValid());
    EXPECT_EQ(size.getSubArgCount(), 2);

    EXPECT_TRUE(Argument("any", -1, false).isValid());
}

TEST(Argument, SubArgIndexWrapsAsUnsignedModuloCount) {
    Argument three("t", 3, false);
    for (const char* value : {"a", "b", "c"}) three.addSubArg(value);
    // The index as unsigned int: -1 is 4294967295 (= 0 mod 3), -2 is 4294967294 (= 2 mod 3).
    const std::pair<int, std::string> cases[] = {{0, "a"}, {1, "b"},  {2, "c"}, {3, "a"},
                                                 {4, "b"}, {-1, "a"}, {-2, "c"}};
    for (const auto& [index, expected] : cases)
        EXPECT_EQ(three.getSubArg(index), expected) << index;

    Argument seven("s", -1, false);
    for (const char* value : {"0", "1", "2", "3", "4", "5", "6"}) seven.addSubArg(value);
    EXPECT_EQ(seven.getSubArg(-1), "3");  // 4294967295 mod 7 = 3: 32-bit unsigned, not size_t
}

TEST(Argument, SubArgConversionsAndEmptyRecord) {
    Argument numbers("n", 3, false);
    for (const char* value : {"2.5", "12abc", "x"}) numbers.addSubArg(value);
    EXPECT_EQ(numbers.getSubArgFloat(0), 2.5);  // exact binary fraction
    EXPECT_EQ(numbers.getSubArgInt(1), 12);
    EXPECT_EQ(numbers.getSubArgInt(2), 0);
    EXPECT_EQ(numbers.getSubArgFloat(2), 0.0);

    const Argument empty("e", 0, false);
    for (const int index : {0, 1, -1}) {
        EXPECT_EQ(empty.getSubArg(index), "");
        EXPECT_EQ(empty.getSubArgFloat(index), 0.0);
        EXPECT_EQ(empty.getSubArgInt(index), 0);
    }
}

TEST(ArgumentLoader, JoinsWordsAfterProgramName) {
    EXPECT_EQ(loaderFor({"-i", "a.ppm", "-v"}).getArgumentString(), "-i a.ppm -v");
    EXPECT_EQ(loaderFor({"two words"}).getArgumentString(), "two words");
    EXPECT_EQ(loaderFor({}).getArgumentString(), "");
    EXPECT_EQ(ArgumentLoader(0, nullptr).getArgumentString(), "");
}

TEST(ArgumentLoader, AddPatternKeepsFirstDeclaration) {
    ArgumentLoader loader = loaderFor({});
    EXPECT_TRUE(loader.addPattern("i", 1, true));
    EXPECT_FALSE(loader.addPattern("i", 3, false));
    EXPECT_EQ(loader.getArgumentCount(), 1);
    EXPECT_EQ(loader.getArgument("i").getexpfectedSubArgCount(), 1);
    EXPECT_TRUE(loader.getArgument("i").isCompulsory());
}

TEST(ArgumentLoader, GetArgumentDeclaresUnknownTokenWithDefaultRecord) {
    ArgumentLoader loader = loaderFor({});
    EXPECT_FALSE(loader.argumentExists("q"));
    const Argument record = loader.getArgument("q");
    EXPECT_EQ(record.getArgToken(), "");
    EXPECT_FALSE(record.isCompulsory());
    EXPECT_TRUE(loader.argumentExists("q"));
    EXPECT_EQ(loader.getArgumentCount(), 1);
}

TEST(ArgumentLoader, ParsesDeclaredGroups) {
    ArgumentLoader loader = loaderWithInputAndVerbose({"-i", "a.ppm", "-v"});
    EXPECT_TRUE(loader.parseArguments());
    EXPECT_EQ(loader.getErrors(), Messages{});

    const Argument input = loader.getArgument("i");
    EXPECT_TRUE(input.isInitiated());
    ASSERT_EQ(input.getSubArgCount(), 1);
    EXPECT_EQ(input.getSubArg(0), "a.ppm");
    const Argument verbose = loader.getArgument("v");
    EXPECT_TRUE(verbose.isInitiated());
    EXPECT_EQ(verbose.getSubArgCount(), 0);
}

TEST(ArgumentLoader, ReportsMissingCompulsoryPattern) {
    ArgumentLoader loader = loaderWithInputAndVerbose({"-v"});
    EXPECT_FALSE(loader.parseArguments());
    EXPECT_EQ(loader.getErrors(), Messages{kMissingInput});
}

TEST(ArgumentLoader, UndeclaredTokenStopsReadingThenCompulsoryFollows) {
    ArgumentLoader loader = loaderWithInputAndVerbose({"-x", "1", "-i", "a.ppm"});
    EXPECT_FALSE(loader.parseArguments());
    EXPECT_EQ(loader.getErrors(),
              (Messages{"Argument Pattern DOES NOT EXIST within loader [x]", kMissingInput}));
}

TEST(ArgumentLoader, WrongSubArgCountIsNotStoredBack) {
    ArgumentLoader loader = loaderWithInputAndVerbose({"-i", "a", "b"});
    EXPECT_FALSE(loader.parseArguments());
    EXPECT_EQ(loader.getErrors(),
              (Messages{"Incorrect number of sub arguments! Argument: [i]   Token Count: [2]  "
                        "Sub-Arg Count: [1] ",
                        kMissingInput}));
    EXPECT_FALSE(loader.getArgument("i").isInitiated());
    EXPECT_EQ(loader.getArgument("i").getSubArgCount(), 0);

    ArgumentLoader extra = loaderWithInputAndVerbose({"-i", "a", "-v", "on"});
    EXPECT_FALSE(extra.parseArguments());
    EXPECT_EQ(extra.getErrors(), Messages{"Incorrect number of sub arguments! Argument: [v]   "
                                          "Token Count: [1]  Sub-Arg Count: [0] "});
}

TEST(ArgumentLoader, NegativeCountAcceptsAnyNumber) {
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"-f"}, std::vector<std::string>{"-f", "a", "b", "c"}}) {
        ArgumentLoader loader = loaderFor(words);
        loader.addPattern("f", -1, true);
        EXPECT_TRUE(loader.parseArguments());
        EXPECT_TRUE(loader.getErrors().empty());
        EXPECT_EQ(loader.getArgument("f").getSubArgCount(), static_cast<int>(words.size()) - 1);
    }
}

// A second occurrence of a fixed-count pattern is refused, naming it, whatever its count;
// the first occurrence stays stored.  Found by fuzz_loader: "-i a -i b" used to parse as true
// with no message and an invalid record holding two sub-arguments.
TEST(ArgumentLoader, RepeatedFixedCountPatternIsAnError) {
    struct Case {
        std::vector<std::string> words;
        std::string repeated;
        int storedSubArgs;
    };
    const Case cases[] = {
        {{"-i", "a", "-i", "b"}, "i", 1},
        {{"-i", "a", "-v", "-v"}, "v", 0},
        {{"-p", "x", "y", "-i", "a", "-p", "x", "y"}, "p", 2},
        {{"-i", "a-i", "b"}, "i", 1},  // the hyphen in a value starts the second occurrence
    };
    for (const Case& c : cases) {
        ArgumentLoader loader = loaderWithInputAndVerbose(c.words);
        loader.addPattern("p", 2, false);
        EXPECT_FALSE(loader.parseArguments()) << c.repeated;
        EXPECT_EQ(loader.getErrors(),
                  Messages{"Argument Pattern REPEATED within command line [" + c.repeated + "]"});
        EXPECT_EQ(loader.getArgument(c.repeated).getSubArgCount(), c.storedSubArgs);
        EXPECT_TRUE(loader.getArgument(c.repeated).isValid());
    }
}

TEST(ArgumentLoader, RepeatedAnyCountPatternCollectsEveryOccurrence) {
    ArgumentLoader loader = loaderFor({"-f", "a", "-f", "-f", "b", "c"});
    loader.addPattern("f", -1, false);
    EXPECT_TRUE(loader.parseArguments());
    const Argument files = loader.getArgument("f");
    ASSERT_EQ(files.getSubArgCount(), 3);
    EXPECT_EQ(files.getSubArg(0), "a");
    EXPECT_EQ(files.getSubArg(2), "c");
    EXPECT_TRUE(files.isValid());
}

TEST(ArgumentLoader, HyphenInsideValueStartsNewGroup) {
    ArgumentLoader loader = loaderWithInputAndVerbose({"-i", "a-b.ppm"});
    EXPECT_FALSE(loader.parseArguments());
    EXPECT_EQ(loader.getErrors(),
              Messages{"Argument Pattern DOES NOT EXIST within loader [b.ppm]"});
    EXPECT_EQ(loader.getArgument("i").getSubArg(0), "a");
}

TEST(ArgumentLoader, EmptyCommandLine) {
    ArgumentLoader optional = loaderFor({});
    optional.addPattern("v", 0, false);
    EXPECT_TRUE(optional.parseArguments());
    EXPECT_TRUE(optional.getErrors().empty());

    // Missing compulsory patterns are reported in ascending token order.
    ArgumentLoader compulsory = loaderFor({});
    compulsory.addPattern("z", 0, true);
    compulsory.addPattern("b", 0, true);
    EXPECT_FALSE(compulsory.parseArguments());
    EXPECT_EQ(compulsory.getErrors(),
              (Messages{"Compulsory Argument Pattern DOES NOT EXIST within loader [b]",
                        "Compulsory Argument Pattern DOES NOT EXIST within loader [z]"}));
}

}  // namespace
}  // namespace lumetra
