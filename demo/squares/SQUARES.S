     * SQUARES: THE SQUARES OF 1 TO 20 WITHOUT THE MULTIPLY FEATURE.
     * EACH SQUARE IS THE ONE BEFORE IT PLUS THE NEXT ODD NUMBER:
     * 1, 1+3=4, 4+5=9, 9+7=16 ...
               ORG  400
     START     CS   332                        CLEAR THE PRINT AREA
               CS                              (201-332)
               MCW  @  N      SQUARE@,215      THE HEADING
               W
               CS   299                        CLEAR IT AGAIN
     LOOP      A    +1,N                       N = N + 1
               A    ODD,SQUARE                 ADD THE NEXT ODD NUMBER
               A    +2,ODD                     AND STEP TO THE ONE AFTER
               MCS  N,203                      N IN COLUMNS 1-3
               MCS  SQUARE,215                 ITS SQUARE IN 11-15
               W                               PRINT THE LINE
               C    N,LIMIT                    THE LAST ONE YET?
               BU   LOOP
               H    START
     N         DCW  000
     ODD       DCW  001
     SQUARE    DCW  00000
     LIMIT     DCW  020
               END  START
