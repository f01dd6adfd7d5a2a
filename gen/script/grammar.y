/* The script grammar. Every line is one statement, a comment or empty; statement actions hand
 * their work to the operations in statements.cpp. The parser's default reductions matter:
 * constants and parameters are looked up the moment they are shifted, and a line that starts
 * with a name ends the pass silently through the start rule. */

%code requires {
#include <cstdint>

struct CompileState;
}

%code {
#include <string>

#include "compile_state.h"
#include "script/diagnostics.h"
#include "script/scanner.h"
#include "script/statements.h"
#include "section_entry.h"
#include "sound_kinds.h"

static int yylex(YYSTYPE* value, YYLTYPE* location, CompileState& state);
static void yyerror(YYLTYPE* location, CompileState& state, const char* message);
}

%define api.pure full
%param {CompileState& state}
%define api.value.type {int32_t}
%define parse.error custom
%locations

%token T_NUM 258 T_PARM_NUM 259 T_PARM_LITERAL 260 T_LITERAL 261 T_USR_VAR 262
%token T_DEFEINE 263 T_ADPCM 264 T_PCM8 265 T_PCM16 266 T_SILENCE 267 T_MUTE 268 T_EQ01 269
%token T_ULAW 270 T_GLOBAL 271 T_CFGMEM 272 T_SECTION 273 T_OFFSET 274 T_SECNUM 275
%token T_MAXSIZE 276 T_GRPADR 277 T_FUNCCODE 278 T_FILESIZE 279 T_MISCOPT 280 T_OUTPUT 281
%token T_EDGE 282 T_HOLD 283 T_RETRG 284 T_STOPEN 285 T_GROUPS 286 T_OPTION 287 T_REMARK 288
%token T_UNKNOW 289 T_WAKEUPDLY 290 T_SRCSPD 291 T_IO_CFG 292 T_DBCKSI 293 T_DBCKUI 294
%token T_VOL_CFG 295 T_VOL_MAP 296 T_FILL 297 T_SCALING 298 T_RAMP_CFG 299 T_RAMP_RATE 300
%token T_MAINCLK 301
%token '='
%left '|'
%left '^'
%left '&'
%left '-' '+'
%left '*' '/'
%precedence NEG 302
%token '\n' '[' ']' '(' ')' ':' ',' '$'

%%

Start: program { EndOfPass(state); YYACCEPT; }
  ;

program: %empty
  | program codeline
  | program errorline
  ;

lineend: '\n'
  | T_REMARK '\n'
  ;

codeline: lineend
  | rule01 | rule02 | rule03 | rule04 | rule05 | rule06 | rule07 | rule08 | rule09
  | rule11 | rule12
  ;

rule01: T_DEFEINE T_USR_VAR { CopyName(state); } '=' exp lineend { DefineStatement(state, $5, @1.first_line); }
  | T_DEFEINE error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule02: T_SILENCE T_USR_VAR { CopyName(state); } '=' exp lineend { LengthSoundStatement(state, KindSilence, $5, @1.first_line); }
  | T_SILENCE error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule08: T_MUTE T_USR_VAR { CopyName(state); } '=' exp lineend { LengthSoundStatement(state, KindMute, $5, @1.first_line); }
  | T_MUTE error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule03: T_ADPCM T_USR_VAR { CopyName(state); } '=' T_LITERAL lineend { WaveSoundStatement(state, KindAdpcm, @1.first_line); }
  | T_ADPCM error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule04: T_PCM8 T_USR_VAR { CopyName(state); } '=' T_LITERAL lineend { WaveSoundStatement(state, KindPcm8, @1.first_line); }
  | T_PCM8 error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule05: T_EQ01 T_USR_VAR { CopyName(state); } '=' T_LITERAL lineend { WaveSoundStatement(state, KindEq01, @1.first_line); }
  | T_EQ01 error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule06: T_PCM16 T_USR_VAR { CopyName(state); } '=' T_LITERAL lineend { WaveSoundStatement(state, KindPcm16, @1.first_line); }
  | T_PCM16 error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule07: T_ULAW T_USR_VAR { CopyName(state); } '=' T_LITERAL lineend { WaveSoundStatement(state, KindUlaw, @1.first_line); }
  | T_ULAW error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule09: T_CFGMEM T_USR_VAR { CopyName(state); } '=' exp lineend { CfgMemStatement(state, $5, @1.first_line); }
  | T_CFGMEM error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule11: T_GLOBAL T_SECNUM '=' exp lineend { GlobalNumber(state, T_SECNUM, $4, @1.first_line); }
  | T_GLOBAL T_OUTPUT '=' exp lineend { GlobalNumber(state, T_OUTPUT, $4, @1.first_line); }
  | T_GLOBAL T_FUNCCODE '=' exp lineend { GlobalNumber(state, T_FUNCCODE, $4, @1.first_line); }
  | T_GLOBAL T_MISCOPT '=' exp lineend { GlobalNumber(state, T_MISCOPT, $4, @1.first_line); }
  | T_GLOBAL T_WAKEUPDLY '=' exp lineend { GlobalNumber(state, T_WAKEUPDLY, $4, @1.first_line); }
  | T_GLOBAL T_SRCSPD '=' exp lineend { GlobalNumber(state, T_SRCSPD, $4, @1.first_line); }
  | T_GLOBAL T_IO_CFG '=' exp lineend { GlobalNumber(state, T_IO_CFG, $4, @1.first_line); }
  | T_GLOBAL T_DBCKSI '=' exp lineend { GlobalNumber(state, T_DBCKSI, $4, @1.first_line); }
  | T_GLOBAL T_DBCKUI '=' exp lineend { GlobalNumber(state, T_DBCKUI, $4, @1.first_line); }
  | T_GLOBAL T_VOL_CFG '=' exp lineend { GlobalNumber(state, T_VOL_CFG, $4, @1.first_line); }
  | T_GLOBAL T_MAINCLK '=' exp lineend { GlobalNumber(state, T_MAINCLK, $4, @1.first_line); }
  | T_GLOBAL T_RAMP_CFG '=' exp lineend { GlobalNumber(state, T_RAMP_CFG, $4, @1.first_line); }
  | T_GLOBAL T_RAMP_RATE '=' exp lineend { GlobalNumber(state, T_RAMP_RATE, $4, @1.first_line); }
  | T_GLOBAL T_OFFSET '=' exp lineend { GlobalNumber(state, T_OFFSET, $4, @1.first_line); }
  | T_GLOBAL T_FILESIZE '=' exp lineend { GlobalNumber(state, T_FILESIZE, $4, @1.first_line); }
  | T_GLOBAL T_MAXSIZE '=' exp lineend { GlobalNumber(state, T_MAXSIZE, $4, @1.first_line); }
  | T_GLOBAL T_GRPADR '=' exp lineend { GlobalNumber(state, T_GRPADR, $4, @1.first_line); }
  | T_GLOBAL T_VOL_MAP '=' T_LITERAL lineend { GlobalLiteral(state, T_VOL_MAP, @1.first_line); }
  | T_GLOBAL T_FILL '=' T_LITERAL lineend { GlobalLiteral(state, T_FILL, @1.first_line); }
  | T_GLOBAL T_SCALING '=' T_LITERAL lineend { GlobalLiteral(state, T_SCALING, @1.first_line); }
  | T_GLOBAL error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

rule12: T_SECTION '[' exp ']' T_OPTION '=' exp lineend { SectionOption(state, $3, $7, @1.first_line); }
  | T_SECTION '[' exp ']' T_EDGE '=' T_LITERAL lineend { SectionFlag(state, $3, kSectionEdgeBit, @1.first_line); }
  | T_SECTION '[' exp ']' T_HOLD '=' T_LITERAL lineend { SectionFlag(state, $3, kSectionHoldBit, @1.first_line); }
  | T_SECTION '[' exp ']' T_RETRG '=' T_LITERAL lineend { SectionFlag(state, $3, kSectionRetriggerBit, @1.first_line); }
  | T_SECTION '[' exp ']' T_STOPEN '=' T_LITERAL lineend { SectionFlag(state, $3, kSectionStopEnableBit, @1.first_line); }
  | T_SECTION '[' exp ']' T_GROUPS '=' T_USR_VAR { CopyGroupName(state); } '(' exp ')' ':' exp lineend
      { SectionGroup(state, $3, $10, $13, @1.first_line); }
  | T_SECTION error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

exp: T_USR_VAR { $$ = ConstantValue(state, @1.first_line); }
  | expg
  ;

expg: T_NUM { $$ = $1; }
  | T_PARM_NUM { $$ = ParameterValue(state, $1, @1.first_line); }
  | exp '|' exp { $$ = $1 | $3; }
  | exp '^' exp { $$ = $1 ^ $3; }
  | exp '&' exp { $$ = $1 & $3; }
  | exp '+' exp { $$ = Add($1, $3); }
  | exp '-' exp { $$ = Subtract($1, $3); }
  | exp '*' exp { $$ = Multiply($1, $3); }
  | exp '/' exp { $$ = Divide(state, $1, $3, @1.first_line); }
  | '-' exp %prec NEG { $$ = Negate($2); }
  | '(' exp ')' { $$ = $2; }
  ;

unmatch: '(' | ')' | '+' | '-' | '*' | '/' | '=' | '&' | '|' | '^' | '[' | ']' | ':' | ',' | '$'
  | T_NUM | NEG | T_LITERAL | T_SECNUM | T_FUNCCODE | T_MISCOPT | T_OUTPUT | T_OPTION | T_EDGE
  | T_HOLD | T_RETRG | T_STOPEN | T_GROUPS | T_PARM_NUM | T_OFFSET | T_MAXSIZE | T_PARM_LITERAL
  | T_GRPADR | T_FILESIZE | T_WAKEUPDLY | T_SRCSPD | T_IO_CFG | T_DBCKSI | T_DBCKUI | T_VOL_CFG
  | T_VOL_MAP | T_FILL | T_SCALING | T_RAMP_CFG | T_RAMP_RATE | T_MAINCLK | T_UNKNOW
  ;

errorline: unmatch error lineend { SyntaxErrorLine(state, @1.first_line); yyerrok; }
  ;

%%

static int yylex(YYSTYPE* value, YYLTYPE* location, CompileState& state) {
  const int token = ScanToken(state, value);
  location->first_line = ScannerLine(state);
  return token;
}

static void yyerror(YYLTYPE*, CompileState& state, const char* message) {
  SyntaxMessage(state, message);
}

// The names the chip tools have always printed for the end token and an undefined character.
static std::string SymbolName(yysymbol_kind_t symbol) {
  if (symbol == YYSYMBOL_YYEOF) return "$end";
  if (symbol == YYSYMBOL_YYUNDEF) return "$undefined";
  std::string name = yysymbol_name(symbol);
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
  }
  return name;
}

// "syntax error, unexpected X[, expecting A[ or B...]]", with the expected tokens taken from
// the parser's own tables and dropped altogether when there are more than four.
static int yyreport_syntax_error(const yypcontext_t* context, CompileState& state) {
  yysymbol_kind_t lookahead = yypcontext_token(context);
  if (lookahead == YYSYMBOL_YYEMPTY) {
    SyntaxMessage(state, "syntax error");
    return 0;
  }
  std::string message = "syntax error, unexpected " + SymbolName(lookahead);
  yysymbol_kind_t expected[4];
  int count = yypcontext_expected_tokens(context, expected, 4);
  for (int i = 0; i < count; ++i) {
    message += (i == 0 ? ", expecting " : " or ") + SymbolName(expected[i]);
  }
  SyntaxMessage(state, message.c_str());
  return 0;
}

int ParsePass(CompileState& state) {
  int result = yyparse(state);
  return result == 0 ? state.ErrorCount : result;
}
